#include "setup/CUpdateProgressDlg.h"

#include <boost/format.hpp>
#include <utility>

#include "downloader/DownloaderLog.h"
#include "platform/ShellOpen.h"
#include "setup/CMessageBoxDialog.h"
#include "setup/UiText.h"

CUpdateProgressDlg::CUpdateProgressDlg(platform::DialogHost& host, const StubSettings& settings,
                                       Hooks hooks)
    : m_host(host),
      m_settings(settings),
      m_hooks(std::move(hooks)),
      m_interfaceThread(std::this_thread::get_id()) {}

// A join that fails leaves no safe way on: ending the program, as a throwing
// destructor does, is the outcome wanted.
// NOLINTNEXTLINE(bugprone-exception-escape)
CUpdateProgressDlg::~CUpdateProgressDlg() {
    if (m_workerThread.joinable()) {
        requestStop();
        m_workerThread.join();
    }
}

int CUpdateProgressDlg::DoModal() {
    OnInitDialog();
    const int result = m_host.runModal(*this);
    // The window is gone: the next run reads the interface language afresh.
    UiText::release();
    return result;
}

bool CUpdateProgressDlg::OnInitDialog() {
    m_host.setCaption((boost::wformat(uiText(8)) % productDisplayName(m_settings.productId)).str());
    m_stopRequested = false;
    m_host.showWindow();
    m_host.setProgressText(uiText(9));
    m_host.setProgressPosition(0);
    // A lambda rather than a member pointer: the 32-bit Windows compiler fails
    // on Boost.Thread's member-pointer call.
    m_workerThread = boost::thread([this] { workerMain(); });
    return true;
}

void CUpdateProgressDlg::postMessage(SetupMessage message) {
    m_host.post(platform::makePostedTask(
        [this, posted = std::move(message)]() mutable { onMessage(std::move(posted)); }));
}

int CUpdateProgressDlg::showErrorBox(std::wstring message, std::wstring details) {
    CMessageBoxDialog box(m_host);
    box.m_caption = uiText(4);
    box.m_yesText = uiText(5);
    box.m_noText = uiText(6);
    box.m_message = std::move(message) + uiText(7);
    if (!details.empty()) box.m_message += L"\n" + details;
    if (std::this_thread::get_id() == m_interfaceThread) return box.DoModal();

    // Boxes belong to the interface thread: hand the box over and wait for
    // its answer, but never past a stop request, because the interface thread
    // may be waiting for this thread to end.
    std::unique_lock<std::mutex> lock(m_waitMutex);
    m_errorBoxResult.reset();
    lock.unlock();
    m_host.post(platform::makePostedTask([this, box]() mutable {
        const int result = box.DoModal();
        {
            std::lock_guard<std::mutex> answered(m_waitMutex);
            m_errorBoxResult = result;
        }
        m_waitChanged.notify_all();
    }));
    lock.lock();
    m_waitChanged.wait(lock, [this] { return m_errorBoxResult || m_stopRequested; });
    return m_errorBoxResult.value_or(platform::kSecondButtonResult);
}

void CUpdateProgressDlg::openWebPage(const std::string& url) {
    const platform::ShellOpenResult opened = platform::openWebPage(url);
    if (opened.started) {
        DownloaderLog::step("opened " + url);
    } else {
        DownloaderLog::failure("cannot open " + url + ": " + opened.error);
    }
}

bool CUpdateProgressDlg::waitForStop(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_waitMutex);
    return m_waitChanged.wait_for(lock, timeout, [this] { return m_stopRequested.load(); });
}

void CUpdateProgressDlg::requestStop() {
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
        m_stopRequested = true;
    }
    m_waitChanged.notify_all();
}

void CUpdateProgressDlg::stopWorker() {
    requestStop();
    if (m_workerThread.joinable()) m_workerThread.join();
}

void CUpdateProgressDlg::endRun(int result) {
    m_runEnded = true;
    m_host.endModal(result);
}

void CUpdateProgressDlg::onCloseRequested() {
    // A second request while the question is open, or one arriving after the
    // run ended, has nothing left to ask.
    if (m_runEnded || m_confirmingClose) return;
    CMessageBoxDialog box(m_host);
    box.m_caption = uiText(0);
    box.m_yesText = uiText(1);
    box.m_noText = uiText(2);
    box.m_message = uiText(3);
    m_confirmingClose = true;
    const int result = box.DoModal();
    m_confirmingClose = false;
    // The worker may have finished the run while the question was open.
    if (result != platform::kFirstButtonResult || m_runEnded) return;
    stopWorker();
    endRun(platform::kSecondButtonResult);
}

void CUpdateProgressDlg::onMessage(SetupMessage message) {
    if (m_runEnded) return;
    switch (message.id) {
        case WM_SETUP_PROGRESS:
            if (auto* report = std::get_if<std::unique_ptr<ProgressReport>>(&message.payload)) {
                OnSetupProgress(std::move(*report));
            }
            break;
        case WM_SETUP_STATUS:
            if (auto* status = std::get_if<std::unique_ptr<std::wstring>>(&message.payload)) {
                OnSetupStatus(std::move(*status));
            }
            break;
        case WM_SETUP_FINISH:
            OnSetupFinish();
            break;
        default:
            break;
    }
}

void CUpdateProgressDlg::OnSetupProgress(std::unique_ptr<ProgressReport> report) {
    if (!report) return;
    if (m_hooks.isDownloadComplete && m_hooks.isDownloadComplete()) {
        // Whichever report meets the complete file, and the completion report
        // carries no text: the last thing shown is the whole download, in the
        // bar and in the line above it alike.
        m_host.setProgressPosition(100);
        m_host.setProgressText(progressText(100));
        stopWorker();
        if (m_hooks.launchInstaller) m_hooks.launchInstaller(*this);
        endRun(1);
        return;
    }
    m_host.setProgressPosition(report->percent);
    m_host.setProgressText(report->text);
}

void CUpdateProgressDlg::OnSetupStatus(std::unique_ptr<std::wstring> status) {
    if (status) m_host.setStatusText(*status);
}

void CUpdateProgressDlg::OnSetupFinish() {
    stopWorker();
    endRun(1);
}

void CUpdateProgressDlg::workerMain() {
    try {
        if (m_hooks.runSetup) m_hooks.runSetup(*this, m_settings);
    } catch (...) {
        // The flow reports its own failures; one that escapes it must still
        // end the run instead of leaving the window up with nobody working.
        try {
            postMessage(makeFinishMessage());
        } catch (...) {
            // Out of memory: the user can still close the window.
        }
    }
}
