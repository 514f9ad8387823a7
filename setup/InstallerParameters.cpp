#include "setup/InstallerParameters.h"

#include "app/SettingKeys.h"
#include "app/SettingValue.h"
#include "setup/CommandLineQuoting.h"
#include "text/TextConversion.h"

std::optional<std::wstring> installerParameters(const StubSettings& settings) {
    if (settings.productId == kVaultOProductId) {
        const auto found = settings.payload.find(kVaultOCampaignKey);
        const std::wstring campaign =
            found == settings.payload.end() ? std::wstring() : decodeSettingValue(found->second);
        if (campaign.empty()) return std::nullopt;
        return L" /subid " + quoteArgumentIfNeeded(campaign);
    }

    std::wstring parameters;
    const auto bare = [&parameters](const wchar_t* name, const std::wstring& value) {
        if (!value.empty()) parameters += L" " + quoteArgumentIfNeeded(name + value);
    };
    const auto quoted = [&parameters](const std::wstring& name, const std::wstring& value) {
        parameters += L" " + name + L"\"" + escapeForQuotes(value) + L"\"";
    };
    bare(L"/partnerId=", settings.partnerId);
    bare(L"/vid=", settings.vid);
    bare(L"/contentType=", settings.contentType);
    if (!settings.contentAddress.empty()) quoted(L"/contentAddress=", settings.contentAddress);
    if (!settings.offerUrl.empty()) quoted(L"/offerUrl=", settings.offerUrl);
    if (settings.silentMode) parameters += L" /S";
    for (const auto& [key, value] : settings.payload) {
        const std::wstring name = L"/" + utf8ToWide(key) + L"=";
        // Keys are not encoded: a block stamped by other means may put
        // blanks or quotes in one.
        if (needsQuoting(name)) {
            parameters += L" " + quoteArgumentIfNeeded(name + decodeSettingValue(value));
        } else {
            quoted(name, decodeSettingValue(value));
        }
    }
    return parameters;
}
