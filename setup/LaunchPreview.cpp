#include "setup/LaunchPreview.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <vector>

#include "app/ProductCatalog.h"
#include "app/SettingKeys.h"
#include "app/SettingsDescription.h"
#include "app/StubSettings.h"
#include "platform/ShellOpen.h"
#include "setup/InstallerParameters.h"
#include "text/TextConversion.h"

namespace {

bool hasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
}

}  // namespace

std::string describeInstallerLaunch(const std::string& productKey, const PayloadInfo& payload) {
    std::optional<StubSettings> settings;
    try {
        settings = StubSettings::read(productKey, payload);
    } catch (const std::runtime_error&) {
        return "product key " + productKey +
               " is not in the catalogue: the stub refuses to run (\"Invalid installer!\")\n";
    }
    std::string text = "installer parameters built by the stub of product " + settings->productKey +
                       " (" + wideToUtf8(productDisplayName(settings->productId)) + "):\n";

    const std::wstring parameters = installerParameters(*settings).value_or(std::wstring());
    const std::string parameterText = wideToUtf8(parameters);
    // The text begins with a blank, which stays visible after the colon; a
    // control character would break the line, so such a text is escaped.
    text += "parameter text:";
    text += hasControlCharacter(parameterText) ? " " + visibleText(parameterText) : parameterText;
    text += parameters.empty() ? " (none)\n" : "\n";

    const std::vector<std::wstring> arguments = platform::splitCommandLine(parameters);
    text += "arguments (" + std::to_string(arguments.size()) + "):\n";
    for (const std::wstring& argument : arguments)
        text += "  " + visibleText(wideToUtf8(argument)) + "\n";

    std::string unknown;
    for (const auto& setting : settings->payload) {
        if (isKnownSettingKey(setting.first)) continue;
        unknown += (unknown.empty() ? "" : ", ") + wideToUtf8(utf8ToWide(setting.first));
    }
    if (!unknown.empty()) {
        text += "passed through as /key=\"value\", not keys the stub knows: " + unknown + "\n";
    }
    return text;
}
