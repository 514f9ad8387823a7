#pragma once

#include <string>

#include "app/StubSettings.h"
#include "setup/SetupFlow.h"

// The settings of the copy at executablePath (empty: this copy is unknown,
// and runs unstamped). Without a stamp key in config, every block is read as
// it stands; with one, only a block that key signed is believed, and any
// other copy runs with empty settings and says why in stampRefusal. The
// signature item is never among the settings. Throws as StubSettings::read.
StubSettings readStampedSettings(const SetupConfig& config, const std::string& executablePath);
