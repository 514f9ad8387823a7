#pragma once

#include "platform/DialogHost.h"
#include "setup/CUpdateProgressDlg.h"

// Start-up: runs the progress dialog modally on the given front end and turns
// a runtime error that escapes it into one "Error!" box. Interface thread.
class CUpdateProgressApp {
public:
    CUpdateProgressApp(platform::DialogHost& host, CUpdateProgressDlg::Hooks hooks);

    // Returns false once the dialog has run: there is nothing left to do and
    // the process ends.
    bool InitInstance();

private:
    platform::DialogHost& m_host;
    CUpdateProgressDlg::Hooks m_hooks;
};
