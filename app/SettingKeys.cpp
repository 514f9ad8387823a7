#include "app/SettingKeys.h"

#include <algorithm>
#include <cctype>

const std::vector<SettingKey>& knownSettingKeys() {
    static const std::vector<SettingKey> keys = {
        {kPartnerIdKey, "passed as /partnerId=VALUE (quoted whole if it holds a blank or quote)"},
        {kVidKey, "passed as /vid=VALUE (quoted whole if it holds a blank or quote)"},
        {kContentTypeKey,
         "passed as /contentType=VALUE; Reel Box: 10 marks contentAddress as a web address"},
        {kContentAddressKey,
         "passed as /contentAddress=\"VALUE\"; Reel Box: an installed copy is opened with it "
         "(with contentType) instead of downloading"},
        {kOfferUrlKey, "passed as /offerUrl=\"VALUE\""},
        {kSilentModeKey, "exactly \"true\" passes /S; any other value passes nothing"},
        {kVaultOCampaignKey,
         "Vault-O: the only parameter, /subid VALUE (no parameters without it); "
         "other products pass it on as /PidVaulto=\"VALUE\""},
    };
    return keys;
}

bool isKnownSettingKey(std::string_view key) {
    const auto& keys = knownSettingKeys();
    return std::any_of(keys.begin(), keys.end(),
                       [key](const SettingKey& known) { return known.key == key; });
}

std::optional<std::string_view> knownKeyDifferingInCase(std::string_view key) {
    const auto sameIgnoringCase = [key](std::string_view known) {
        return known.size() == key.size() &&
               std::equal(known.begin(), known.end(), key.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) ==
                          std::tolower(static_cast<unsigned char>(b));
               });
    };
    for (const SettingKey& known : knownSettingKeys()) {
        if (known.key != key && sameIgnoringCase(known.key)) return known.key;
    }
    return std::nullopt;
}
