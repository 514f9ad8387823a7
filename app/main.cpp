#include <chrono>
#include <memory>
#include <string>

#include "app/CUpdateProgressApp.h"
#include "platform/DialogHostFactory.h"
#include "setup/SetupMessages.h"
#include "setup/UiText.h"

namespace {

// The setup flow is not part of this build yet: the stub announces itself and
// waits until the user closes it. It downloads and launches nothing.
CUpdateProgressDlg::Hooks announceOnly() {
    CUpdateProgressDlg::Hooks hooks;
    hooks.runSetup = [](CUpdateProgressDlg& dialog) {
        dialog.postMessage(makeStatusMessage(std::make_unique<std::wstring>(uiText(10))));
        while (!dialog.waitForStop(std::chrono::milliseconds(30))) {
        }
    };
    hooks.isDownloadComplete = [](const CUpdateProgressDlg&) { return false; };
    return hooks;
}

}  // namespace

int main() {
    const std::unique_ptr<platform::DialogHost> host = platform::createDialogHost();
    CUpdateProgressApp app(*host, announceOnly());
    app.InitInstance();
    return 0;
}
