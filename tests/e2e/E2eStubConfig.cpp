// The end-to-end build of the stub: the product's own main and libraries,
// with the download host, probe address, product key, pinned publisher key
// and stamp key taken from the environment, because the local servers' ports
// are only known once the test servers run, and each test needs addresses and
// keys of its own.
#include <cstdlib>
#include <string>

#include "setup/SetupFlow.h"

namespace {

std::string variable(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : fallback;
}

}  // namespace

SetupConfig stubSetupConfig() {
    SetupConfig config = SetupConfig::fromBuild();
    config.productKey = variable("WEBSETUP_E2E_PRODUCT_KEY", config.productKey);
    config.downloadHost = variable("WEBSETUP_E2E_DOWNLOAD_HOST", config.downloadHost);
    config.probeUrl = variable("WEBSETUP_E2E_PROBE_URL", config.probeUrl);
    config.pinnedPublisher = variable("WEBSETUP_E2E_PUBLISHER_KEY", config.pinnedPublisher);
    config.stampKey = variable("WEBSETUP_E2E_STAMP_KEY", config.stampKey);
    return config;
}
