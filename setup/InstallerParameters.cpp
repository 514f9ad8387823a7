#include "setup/InstallerParameters.h"

#include <boost/format.hpp>

#include "app/SettingValue.h"
#include "app/TextConversion.h"

std::optional<std::wstring> installerParameters(const InstallerSettings& settings) {
    if (settings.productId == kVaultOProductId) {
        const auto found = settings.payload.find("PidVaulto");
        const std::wstring campaign =
            found == settings.payload.end() ? std::wstring() : decodeSettingValue(found->second);
        if (campaign.empty()) return std::nullopt;
        return (boost::wformat(L" /subid %s") % campaign).str();
    }

    std::wstring parameters;
    const auto append = [&parameters](const wchar_t* format, const std::wstring& value) {
        if (!value.empty()) parameters += (boost::wformat(format) % value).str();
    };
    append(L" /partnerId=%s", settings.partnerId);
    append(L" /vid=%s", settings.vid);
    append(L" /contentType=%s", settings.contentType);
    append(L" /contentAddress=\"%s\"", settings.contentAddress);
    append(L" /offerUrl=\"%s\"", settings.offerUrl);
    if (settings.silentMode) parameters += L" /S";
    for (const auto& [key, value] : settings.payload) {
        parameters +=
            (boost::wformat(L" /%s=\"%s\"") % utf8ToWide(key) % decodeSettingValue(value)).str();
    }
    return parameters;
}
