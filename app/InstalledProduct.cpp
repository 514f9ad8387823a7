#include "app/InstalledProduct.h"

#include <boost/locale/encoding_utf.hpp>

#include "platform/PathSeparator.h"
#include "platform/UninstallEntry.h"
#include "text/TextConversion.h"

std::optional<std::wstring> readEntryValueText(std::string_view stored) {
    // The limit counts UTF-16 units, as the value buffer of the home platform does.
    if (boost::locale::conv::utf_to_utf<char16_t>(stored.data(), stored.data() + stored.size(),
                                                  boost::locale::conv::skip)
                .size() +
            1 >
        InstalledProduct::kValueBufferUnits)
        return std::nullopt;
    std::wstring text = utf8ToWide(stored);
    const std::size_t end = text.find(L'\0');
    if (end != std::wstring::npos) text.erase(end);
    return text;
}

namespace {

std::optional<std::wstring> readValue(const char* name) {
    const std::optional<std::string> stored =
        platform::readUninstallValue(InstalledProduct::kRegistryName, name);
    return stored ? readEntryValueText(*stored) : std::nullopt;
}

}  // namespace

InstalledProduct::InstalledProduct() {
    std::optional<std::wstring> version = readValue("DisplayVersion");
    if (!version) return;
    displayVersion = std::move(*version);
    std::optional<std::wstring> location = readValue("InstallLocation");
    if (!location) return;
    installLocation = std::move(*location);
    m_exePath = installLocation + platform::kPathSeparator + kExecutableName;
    installed = platform::pathExists(wideToUtf8(m_exePath));
}
