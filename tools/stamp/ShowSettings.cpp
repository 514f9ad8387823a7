#include "tools/stamp/ShowSettings.h"

#include "app/PayloadInfo.h"
#include "app/SettingsDescription.h"
#include "setup/LaunchPreview.h"
#include "tools/stamp/PayloadBlock.h"
#include "tools/stamp/StampFile.h"
#include "websetup/BuildConfig.h"

std::string describeSettings(const std::string& path) {
    // The stub's own reader turns every failure into an empty map; open the
    // file here first so that a missing or unreadable file says why.
    requireReadable(path);
    const auto window = readPayloadWindow(path);
    if (!window) throw StampIoError("cannot read '" + path + "'");
    const PayloadInfo payload = parsePayloadInfo(*window);
    const std::string settings = !payload.empty() ? settingLines(payload)
                                 : findStampedBlock(*window)
                                     ? path + " carries an empty settings block\n"
                                     : path + " carries no settings block\n";
    // Built for this tool's own product: the stub was built alike.
    return settings + "\n" + describeInstallerLaunch(buildconfig::kProductKey, payload);
}
