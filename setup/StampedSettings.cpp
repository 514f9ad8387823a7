#include "setup/StampedSettings.h"

#include <optional>
#include <utility>

#include "app/StampedBlock.h"
#include "verify/StampSignature.h"

BelievedPayload readBelievedPayload(const SetupConfig& config, const std::string& executablePath) {
    const std::optional<std::string> window =
        executablePath.empty() ? std::nullopt : readPayloadWindow(executablePath);
    StampedBlock block = parseStampedBlock(window.value_or(std::string()));
    if (config.stampKey.empty()) return {std::move(block.settings), {}};

    const std::string refusal = stampRefusal(block, stampSignatureProblem(config.stampKey));
    if (refusal.empty()) return {std::move(block.settings), {}};
    return {{},
            "the stamped settings are not believed: " + refusal + "; running as an unstamped copy"};
}

StubSettings readStampedSettings(const SetupConfig& config, const std::string& executablePath) {
    BelievedPayload believed = readBelievedPayload(config, executablePath);
    StubSettings settings = StubSettings::read(config.productKey, std::move(believed.payload));
    settings.stampRefusal = std::move(believed.refusal);
    return settings;
}
