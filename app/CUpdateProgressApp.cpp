#include "app/CUpdateProgressApp.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "downloader/DownloaderLog.h"
#include "text/TextConversion.h"

CUpdateProgressApp::CUpdateProgressApp(platform::DialogHost& host,
                                       std::function<StubSettings()> readSettings,
                                       CUpdateProgressDlg::Hooks hooks)
    : m_host(host), m_readSettings(std::move(readSettings)), m_hooks(std::move(hooks)) {}

bool CUpdateProgressApp::InitInstance() {
    try {
        // Read before the dialog exists: a key the catalogue does not know
        // ends the run before any window shows.
        const StubSettings settings = m_readSettings();
        CUpdateProgressDlg dialog(m_host, settings, m_hooks);
        // How the run ended changes nothing here.
        dialog.DoModal();
    } catch (const std::runtime_error& error) {
        const std::string text = error.what();
        m_settingsRefused = true;
        DownloaderLog::failure("the stub's settings are refused: " + text);
        // The caption is English whatever the interface language.
        m_host.showPlainError(L"Error!", utf8ToWide(text));
    }
    return false;
}
