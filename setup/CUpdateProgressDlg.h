#pragma once

#include <atomic>
#include <boost/thread/thread.hpp>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/StubSettings.h"
#include "platform/DialogHost.h"
#include "setup/SetupMessages.h"
#include "setup/SetupReporter.h"

// The program's progress window. It titles itself after the product, starts
// the setup worker and shows what the worker reports through the dialog's
// SetupReporter; it ends when the worker finishes, when the download
// completes (after the installer is launched) or when the user confirms
// closing.
//
// Threads: the interface thread constructs the dialog and runs DoModal,
// OnInitDialog and every handler. The worker thread runs Hooks::runSetup and
// reports through the SetupReporter it is given.
//
// Every way the dialog ends sets the stop flag and waits for the worker
// first. The worker never blocks on the interface thread once the stop flag is
// set (showErrorBox gives up), so that wait cannot deadlock.
class CUpdateProgressDlg : private platform::DialogEvents, private SetupReporter {
public:
    struct Hooks {
        // Worker thread: the setup flow. Reports through the reporter;
        // returns when the flow has ended or a stop was requested.
        std::function<void(SetupReporter&, const StubSettings&)> runSetup;
        // Interface thread: whether the download is complete, asked for every
        // progress report. Empty: never.
        std::function<bool()> isDownloadComplete;
        // Interface thread, after the worker has ended: starts the installer;
        // a start that fails is shown through the reporter, on this thread.
        std::function<void(SetupReporter&)> launchInstaller;
    };

    // settings must outlive the dialog.
    CUpdateProgressDlg(platform::DialogHost& host, const StubSettings& settings, Hooks hooks);
    // Stops and waits for a worker that is still running.
    ~CUpdateProgressDlg();  // NOLINT(bugprone-exception-escape): see the definition

    CUpdateProgressDlg(const CUpdateProgressDlg&) = delete;
    CUpdateProgressDlg& operator=(const CUpdateProgressDlg&) = delete;

    // Interface thread. OnInitDialog, then the modal run; returns 1 when the
    // setup finished or the installer was launched, 2 when the user closed
    // the window. Throws what OnInitDialog throws, before any window shows.
    int DoModal();

    // Interface thread. Shows the window and starts the worker, in that
    // order. Throws the thread library's error when the worker cannot be
    // started.
    bool OnInitDialog();

private:
    // SetupReporter: what the worker is given.
    void postMessage(SetupMessage message) override;
    int showErrorBox(std::wstring message, std::wstring details) override;
    void openWebPage(const std::string& url) override;
    const std::atomic<bool>& stopFlag() const override { return m_stopRequested; }
    bool waitForStop(std::chrono::milliseconds timeout) override;

    // Interface thread.
    void onCloseRequested() override;
    void onMessage(SetupMessage message);
    void OnSetupProgress(std::unique_ptr<ProgressReport> report);
    void OnSetupStatus(std::unique_ptr<std::wstring> status);
    void OnSetupFinish();
    void stopWorker();
    void endRun(int result);

    // Any thread.
    void requestStop();

    // Worker thread: the thread function.
    void workerMain();

    platform::DialogHost& m_host;
    const StubSettings& m_settings;
    Hooks m_hooks;
    const std::thread::id m_interfaceThread;

    std::atomic<bool> m_stopRequested{false};
    // Guard the stop flag's changes and the error box's answer, so that a
    // worker waiting for either wakes up.
    std::mutex m_waitMutex;
    std::condition_variable m_waitChanged;
    std::optional<int> m_errorBoxResult;

    boost::thread m_workerThread;
    bool m_confirmingClose = false;
    bool m_runEnded = false;
};
