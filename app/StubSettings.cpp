#include "app/StubSettings.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <locale>
#include <stdexcept>
#include <utility>

#include "app/SettingKeys.h"
#include "app/SettingValue.h"

StubSettings StubSettings::read(std::string productKey, PayloadInfo payload) {
    StubSettings settings;
    settings.payload = std::move(payload);
    for (auto setting = settings.payload.begin(); setting != settings.payload.end();) {
        if (const std::optional<std::string> problem = storedValueProblem(setting->second)) {
            settings.droppedSettings.push_back("the stamped setting \"" + setting->first +
                                               "\" is dropped: " + *problem);
            setting = settings.payload.erase(setting);
        } else {
            ++setting;
        }
    }
    settings.vid = takeSetting(settings.payload, kVidKey);
    settings.partnerId = takeSetting(settings.payload, kPartnerIdKey);
    settings.contentType = takeSetting(settings.payload, kContentTypeKey);
    settings.contentAddress = takeSetting(settings.payload, kContentAddressKey);
    settings.offerUrl = takeSetting(settings.payload, kOfferUrlKey);
    settings.silentMode = takeSetting(settings.payload, kSilentModeKey) == L"true";
    settings.productKey = std::move(productKey);
    boost::algorithm::to_lower(settings.productKey, std::locale::classic());
    settings.productId = productIdFromKey(settings.productKey);
    if (settings.productId == 0) throw std::runtime_error("Invalid installer!");
    return settings;
}
