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

#include "app/PayloadInfo.h"
#include "app/ProductCatalog.h"
#include "downloader/Downloader.h"
#include "platform/DialogHost.h"
#include "setup/SetupMessages.h"
#include "websetup/BuildConfig.h"

// The program's progress window. It reads the stamped settings, titles itself
// after the product, starts the setup worker and shows what the worker posts;
// it ends when the worker finishes, when the download completes (after the
// installer is launched) or when the user confirms closing.
//
// Threads: the interface thread constructs the dialog and runs DoModal,
// OnInitDialog and every handler. The worker thread runs Hooks::runSetup and
// may call postMessage, showErrorBox, stopRequested and waitForStop.
//
// Every way the dialog ends sets the stop flag and waits for the worker
// first. The worker never blocks on the interface thread once the stop flag is
// set (showErrorBox gives up), so that wait cannot deadlock.
class CUpdateProgressDlg : private platform::DialogEvents {
public:
    struct Hooks {
        // Worker thread: the setup flow. Reports through postMessage and
        // showErrorBox; returns when the flow has ended or stopRequested().
        std::function<void(CUpdateProgressDlg&)> runSetup;
        // Interface thread: whether the download is complete, asked for every
        // progress report. Empty: m_downloader's record is asked.
        std::function<bool(CUpdateProgressDlg&)> isDownloadComplete;
        // Interface thread, after the worker has ended: starts the installer.
        std::function<void(CUpdateProgressDlg&)> launchInstaller;
        // The build's catalogue key and where the settings come from.
        std::string productKey = buildconfig::kProductKey;
        std::function<PayloadInfo()> readPayload = readOwnPayloadInfo;
    };

    CUpdateProgressDlg(platform::DialogHost& host, Hooks hooks);
    // Stops and waits for a worker that is still running.
    ~CUpdateProgressDlg();  // NOLINT(bugprone-exception-escape): see the definition

    CUpdateProgressDlg(const CUpdateProgressDlg&) = delete;
    CUpdateProgressDlg& operator=(const CUpdateProgressDlg&) = delete;

    // Interface thread. OnInitDialog, then the modal run; returns 1 when the
    // setup finished or the installer was launched, 2 when the user closed
    // the window. Throws what OnInitDialog throws, before any window shows.
    int DoModal();

    // Interface thread. Reads the settings, resolves the product, shows the
    // window and starts the worker, in that order. Throws std::runtime_error
    // "Invalid installer!" for a key the catalogue does not know (nothing is
    // shown and no thread is started then), and the thread library's error
    // when the worker cannot be started.
    bool OnInitDialog();

    // Any thread. Queues a message for the dialog's handlers.
    void postMessage(SetupMessage message);

    // Worker or interface thread. The error box: message followed by the
    // closing sentence, buttons "Yes" and "No". Returns the box's result, or
    // 2 without waiting further once a stop is requested.
    int showErrorBox(std::wstring message);

    // Any thread.
    bool stopRequested() const;
    // Any thread: the flag itself, for requests that end when it turns true.
    // It lives as long as the dialog.
    const std::atomic<bool>& stopFlag() const { return m_stopRequested; }
    // Worker thread: sleeps until a stop is requested or the time is up;
    // returns stopRequested().
    bool waitForStop(std::chrono::milliseconds timeout);

    // The settings, written by OnInitDialog before the worker starts and read
    // by the worker and the launch without a lock. The worker may rewrite
    // m_contentAddress.
    ProductId m_productId = 0;
    bool m_silentMode = false;
    std::string m_productKey;
    std::wstring m_vid;
    std::wstring m_partnerId;
    std::wstring m_contentAddress;
    std::wstring m_contentType;
    std::wstring m_offerUrl;
    PayloadInfo m_payload;  // what is left after the six named settings

    // Driven by the worker; its record is read by the completion test and
    // the launch on the interface thread.
    Downloader m_downloader;

private:
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
