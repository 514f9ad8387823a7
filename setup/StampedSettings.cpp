#include "setup/StampedSettings.h"

#include <optional>

#include "app/StampedBlock.h"
#include "verify/StampSignature.h"

StubSettings readStampedSettings(const SetupConfig& config, const std::string& executablePath) {
    const std::optional<std::string> window =
        executablePath.empty() ? std::nullopt : readPayloadWindow(executablePath);
    const StampedBlock block = parseStampedBlock(window.value_or(std::string()));
    if (config.stampKey.empty()) return StubSettings::read(config.productKey, block.settings);

    const std::string refusal = stampRefusal(block, stampSignatureProblem(config.stampKey));
    StubSettings settings =
        StubSettings::read(config.productKey, refusal.empty() ? block.settings : PayloadInfo());
    if (!refusal.empty()) {
        settings.stampRefusal =
            "the stamped settings are not believed: " + refusal + "; running as an unstamped copy";
    }
    return settings;
}
