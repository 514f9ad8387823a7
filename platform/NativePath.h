#pragma once

#include <boost/filesystem/path.hpp>
#include <string>
#include <string_view>

namespace platform {

// A path in the form the system's file interfaces take without loss. Windows:
// its UTF-16 form, because a narrow name is read in the ANSI code page, where
// a user or folder name with other letters (Cyrillic under an English locale,
// or any letter outside ASCII once the bytes are UTF-8) names another file or
// none. Elsewhere: the UTF-8 bytes as they are.
//
// Every stream and Boost.Filesystem call outside this layer that names a
// file takes the path from here (the layer's own system calls convert the
// same way): std::fstream(nativePath(p).c_str(), ...) passes a wchar_t* on
// Windows, which the streams open through _wfopen. Any thread.
boost::filesystem::path nativePath(std::string_view utf8Path);
boost::filesystem::path nativePath(std::wstring_view path);

// The program's UTF-8 text of a path the system gave (the temporary folder).
std::string utf8Path(const boost::filesystem::path& path);

}  // namespace platform
