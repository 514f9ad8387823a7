#include <memory>
#include <string>

#include "app/CUpdateProgressApp.h"
#include "app/StubSettings.h"
#include "downloader/DownloaderLog.h"
#include "platform/DialogHostFactory.h"
#include "platform/ExecutablePath.h"
#include "setup/SetupFlow.h"
#include "setup/StampedSettings.h"

int main() {
    const std::unique_ptr<platform::DialogHost> host = platform::createDialogHost();
    if (!host) return static_cast<int>(ExitStatus::kInternal);
    const SetupConfig config = stubSetupConfig();
    // Outlives the dialog: the installer may still be launched from it, and
    // its lock on the download holds until the process ends.
    SetupFlow flow(config);
    flow.openRunLog();
    CUpdateProgressDlg::Hooks hooks;
    hooks.runSetup = [&flow](SetupReporter& reporter, const StubSettings& settings) {
        flow.runSetup(reporter, settings);
    };
    hooks.isDownloadComplete = [&flow] { return flow.isDownloadComplete(); };
    hooks.launchInstaller = [&flow](SetupReporter& reporter) { flow.launchInstaller(reporter); };
    CUpdateProgressApp app(
        *host, [&config] { return readStampedSettings(config, platform::executablePath()); },
        hooks);
    app.InitInstance();
    const ExitStatus status = app.settingsRefused() ? ExitStatus::kInvalidStub : flow.exitStatus();
    DownloaderLog::step("end: exit status " + std::to_string(static_cast<int>(status)));
    return static_cast<int>(status);
}
