#pragma once

#include <boost/filesystem/path.hpp>
#include <string>

// The downloader keeps its paths as wide text, as its home platform does; on
// this platform a file name is UTF-8 bytes.
boost::filesystem::path toFilePath(const std::wstring& path);
