#include "setup/SetupFlow.h"

// The product stub runs with what its build fixed.
SetupConfig stubSetupConfig() { return SetupConfig::fromBuild(); }
