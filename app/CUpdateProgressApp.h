#pragma once

#include <functional>

#include "app/StubSettings.h"
#include "platform/DialogHost.h"
#include "setup/CUpdateProgressDlg.h"

// Start-up: reads the settings, runs the progress dialog modally on the given
// front end and turns a runtime error that escapes either into one "Error!"
// box. Interface thread.
class CUpdateProgressApp {
public:
    CUpdateProgressApp(platform::DialogHost& host, std::function<StubSettings()> readSettings,
                       CUpdateProgressDlg::Hooks hooks);

    // Returns false once the dialog has run, or its settings were refused:
    // there is nothing left to do and the process ends.
    bool InitInstance();

    // Whether InitInstance refused the stub's settings (and showed why).
    bool settingsRefused() const { return m_settingsRefused; }

private:
    platform::DialogHost& m_host;
    std::function<StubSettings()> m_readSettings;
    CUpdateProgressDlg::Hooks m_hooks;
    bool m_settingsRefused = false;
};
