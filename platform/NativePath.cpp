#include "platform/NativePath.h"

#include "text/TextConversion.h"

namespace platform {

boost::filesystem::path nativePath(std::string_view utf8Path) {
    return boost::filesystem::path(std::string(utf8Path));
}

boost::filesystem::path nativePath(std::wstring_view path) {
    return boost::filesystem::path(wideToUtf8(path));
}

std::string utf8Path(const boost::filesystem::path& path) { return path.string(); }

}  // namespace platform
