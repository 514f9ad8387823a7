#include "platform/NativePath.h"

#include "text/TextConversion.h"

namespace platform {

// Built from and read as wide text only: Boost's narrow conversions would use
// the ANSI code page.

boost::filesystem::path nativePath(std::string_view utf8Path) {
    return boost::filesystem::path(utf8ToWide(utf8Path));
}

boost::filesystem::path nativePath(std::wstring_view path) {
    return boost::filesystem::path(std::wstring(path));
}

std::string utf8Path(const boost::filesystem::path& path) { return wideToUtf8(path.wstring()); }

}  // namespace platform
