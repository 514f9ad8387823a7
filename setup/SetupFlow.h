#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/StubSettings.h"
#include "downloader/DownloadInfo.h"
#include "downloader/Downloader.h"
#include "net/ProxySettings.h"
#include "platform/PrivateFiles.h"
#include "platform/ReadOnlyFile.h"
#include "platform/ShellOpen.h"
#include "setup/ExitStatus.h"
#include "setup/LaunchGate.h"
#include "setup/SetupReporter.h"

// The connectivity probe: a site root that is always reachable over plain
// HTTP. Only when a request through the user's proxy reaches it is the proxy
// used.
inline constexpr const char kConnectivityProbeUrl[] = "http://example.com/";

// What one stub build fixes: its product and where it connects.
struct SetupConfig {
    std::string productKey;
    // Scheme and host replacing the catalogue row's; empty keeps the row's.
    std::string downloadHost;
    std::string probeUrl;
    // The only publisher whose installers are started; empty: any.
    std::string pinnedPublisher;

    // The build settings (websetup/BuildConfig.h).
    static SetupConfig fromBuild();
};

// Defined by each executable: the configuration its setup flow runs with.
SetupConfig stubSetupConfig();

// The setup flow behind the progress dialog: the worker (runSetup), the
// completion test and the installer launch, the Downloader they drive and the
// state they share. It must outlive the dialog whose worker runs it.
//
// Threads: runSetup runs on the dialog's worker thread and owns the flow
// until it returns; isDownloadComplete and launchInstaller run on the
// interface thread, the latter only after the worker has ended; failure is
// read once the dialog has ended.
class SetupFlow {
public:
    explicit SetupFlow(SetupConfig config);
    SetupFlow(const SetupFlow&) = delete;
    SetupFlow& operator=(const SetupFlow&) = delete;

    // Worker thread, once. Chooses the proxy, learns the installer's size,
    // opens an installed "Reel Box" instead when it can, downloads the
    // installer into the private temporary folder and reports progress,
    // completion or the one error box followed by WM_SETUP_FINISH through
    // reporter. Returns early, reporting nothing more, once a stop is
    // requested.
    void runSetup(SetupReporter& reporter, const StubSettings& settings);

    // Any thread. True once the download thread has ended with the installer
    // complete, flushed and closed; only then is completion reported.
    bool isDownloadComplete() const;

    // Interface thread, after the worker has ended: starts the downloaded
    // installer with the command line the settings call for. Does nothing
    // unless the download is complete. A start that fails shows the
    // internal-error box through reporter, its cause logged, and makes the
    // run a failure.
    void launchInstaller(SetupReporter& reporter);

    // The failure the run ended with, for the exit status; RunFailure::None
    // also after an error box that ended the run before the start.
    RunFailure failure() const { return m_failure; }

private:
    // The user's proxy when a probe through it succeeds; no proxy otherwise,
    // and when stopFlag turns true meanwhile.
    ProxySettings chooseProxy(const std::atomic<bool>& stopFlag) const;
    // Nothing when stopFlag ended the request. Throws ErrorClass for a failed
    // request, a final status other than 2xx or an answer without a length,
    // std::exception for a length beyond 32 bits. `source` receives what the
    // answer says about the installer besides its size.
    std::optional<std::int32_t> requestInstallerSize(const std::string& url,
                                                     const ProxySettings& proxy,
                                                     const std::atomic<bool>& stopFlag,
                                                     InstallerSource& source) const;
    // True when the installed program was opened instead of downloading;
    // throws as requireStarted does when it could not be.
    bool openInstalledProduct();
    // Throws, for the worker's guard to show as the internal error, when a
    // start failed; the run then ends as RunFailure::StartFailed.
    void requireStarted(const platform::ShellOpenResult& start);
    // Builds the record and takes the files; throws as the error box expects.
    DownloadInfo prepareDownload(const std::string& url, std::int32_t size);
    void pollDownload(SetupReporter& reporter, const ProxySettings& proxy);
    // The file is complete: starts it once admitted, or shows why not.
    void finishDownload(SetupReporter& reporter, const ProxySettings& proxy);
    // After the download thread has ended with the file complete: true when
    // the installer passed the launch gate and is held for the start; false
    // after its error box, or when the user's close ended the check.
    bool admitInstaller(SetupReporter& reporter, const ProxySettings& proxy);
    static void reportError(SetupReporter& reporter, std::wstring text);

    const SetupConfig m_config;
    // The worker's copy, written when it starts; launchInstaller reads it once
    // the worker ended. The installed-product shortcut rewrites its content
    // address.
    StubSettings m_settings;
    std::wstring m_recordPath;
    // Held from before the record is first written until the process ends,
    // so that a second copy of the stub never writes the same files.
    std::unique_ptr<platform::FileLock> m_recordLock;
    // Driven by the worker; stopped by it on a stop request.
    Downloader m_downloader;
    std::atomic<bool> m_downloadFinished{false};
    // Written by the worker; read by launchInstaller once the worker ended.
    InstallerSource m_installerSource;
    std::unique_ptr<platform::ReadOnlyFile> m_admittedInstaller;
    std::atomic<RunFailure> m_failure{RunFailure::None};
};
