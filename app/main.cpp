#include <memory>

#include "app/CUpdateProgressApp.h"
#include "platform/DialogHostFactory.h"
#include "setup/SetupFlow.h"

int main() {
    const std::unique_ptr<platform::DialogHost> host = platform::createDialogHost();
    if (!host) return 0;
    // Outlives the dialog: the installer may still be launched from it, and
    // its lock on the download holds until the process ends.
    SetupFlow flow(stubSetupConfig());
    CUpdateProgressApp app(*host, flow.hooks());
    app.InitInstance();
    return 0;
}
