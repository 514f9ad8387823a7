#pragma once

#include <boost/filesystem/path.hpp>
#include <string>

// The downloader keeps its paths as wide text, as its home platform does; on
// this platform a file name is UTF-8 bytes.
boost::filesystem::path toFilePath(const std::wstring& path);

// Called before the record or the installer is opened for writing by name:
// a link planted at path is removed, so that the open cannot write through it
// (platform::unlinkUnsafeEntry). False, with the cause logged, when path
// cannot be made safe.
bool makeSafeToWrite(const std::wstring& path);
