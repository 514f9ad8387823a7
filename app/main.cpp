#include <memory>
#include <string>
#include <vector>

#include "app/CUpdateProgressApp.h"
#include "app/StubSettings.h"
#include "downloader/DownloaderLog.h"
#include "platform/DialogHostFactory.h"
#include "platform/ExecutablePath.h"
#include "platform/ProgramText.h"
#include "setup/SetupFlow.h"
#include "setup/StampedSettings.h"
#include "setup/StubHelp.h"
#include "websetup/BuildConfig.h"

namespace {

std::string programName(const char* argument0) {
    const std::string path = argument0 != nullptr ? argument0 : "";
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    return name.empty() ? buildconfig::kStubName : name;
}

}  // namespace

int main(int argc, char** argv) {
    const SetupConfig config = stubSetupConfig();
    // Answered before anything else runs: no window, no request, no file,
    // not even the short log.
    const StubRequest request = stubRequestOf(std::vector<std::string>(argv + 1, argv + argc));
    if (request != StubRequest::kRun) {
        const std::string name = programName(argv[0]);
        platform::showProgramText(
            name,
            request == StubRequest::kHelp
                ? stubHelpText(name, config,
                               readBelievedPayload(config, platform::executablePath()).payload)
                : stubVersionText(name, config));
        return 0;
    }
    const std::unique_ptr<platform::DialogHost> host = platform::createDialogHost();
    if (!host) return static_cast<int>(ExitStatus::kInternal);
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
