#pragma once

#include <string>

#include "app/PayloadInfo.h"
#include "app/StubSettings.h"
#include "setup/SetupFlow.h"

// The settings of the copy at executablePath (empty: this copy is unknown,
// and runs unstamped) as a stub built with config believes them. Without a
// stamp key in config, every block is read as it stands; with one, only a
// block that key signed is believed, and any other copy runs with empty
// settings. The signature item is never among the settings.
struct BelievedPayload {
    PayloadInfo payload;
    // Why the block was not believed, for the log; empty when it was.
    std::string refusal;
};
BelievedPayload readBelievedPayload(const SetupConfig& config, const std::string& executablePath);

// readBelievedPayload, read into StubSettings (the refusal in stampRefusal).
// Throws as StubSettings::read.
StubSettings readStampedSettings(const SetupConfig& config, const std::string& executablePath);
