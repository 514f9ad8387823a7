#include <memory>

#include "app/CUpdateProgressApp.h"
#include "app/StubSettings.h"
#include "platform/DialogHostFactory.h"
#include "setup/SetupFlow.h"

int main() {
    const std::unique_ptr<platform::DialogHost> host = platform::createDialogHost();
    if (!host) return 0;
    const SetupConfig config = stubSetupConfig();
    // Outlives the dialog: the installer may still be launched from it, and
    // its lock on the download holds until the process ends.
    SetupFlow flow(config);
    CUpdateProgressDlg::Hooks hooks;
    hooks.runSetup = [&flow](SetupReporter& reporter, const StubSettings& settings) {
        flow.runSetup(reporter, settings);
    };
    hooks.isDownloadComplete = [&flow] { return flow.isDownloadComplete(); };
    hooks.launchInstaller = [&flow](SetupReporter& reporter) { flow.launchInstaller(reporter); };
    CUpdateProgressApp app(
        *host, [&config] { return StubSettings::read(config.productKey, readOwnPayloadInfo()); },
        hooks);
    app.InitInstance();
    return exitStatus(flow.failure());
}
