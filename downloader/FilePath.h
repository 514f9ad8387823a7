#pragma once

#include <string>

// The downloader keeps its paths as wide text, as its home platform does, and
// opens its files through platform::nativePath.

// Called before the record or the installer is opened for writing by name:
// a link planted at path is removed, so that the open cannot write through it
// (platform::unlinkUnsafeEntry). False, with the cause logged, when path
// cannot be made safe.
bool makeSafeToWrite(const std::wstring& path);
