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
#include "setup/LaunchGate.h"
#include "setup/SetupReporter.h"
#include "setup/WorkerGuard.h"

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
    // The minisign public key whose signature alone makes a stamped settings
    // block believed; empty: every block is believed.
    std::string stampKey;

    // The build settings (websetup/BuildConfig.h).
    static SetupConfig fromBuild();
};

// The short log's path in the private folder (UTF-8).
std::string shortLogPath(const std::string& privateFolder);

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

    // Start-up, before the dialog (runSetup does it when start-up did not):
    // finds the private temporary folder, opens the short log there and
    // writes the run's first line. Once.
    void openRunLog();

    // Worker thread, once. Chooses the proxy, learns the installer's size,
    // opens an installed "Reel Box" instead when it can, fetches the pinned
    // publisher's signature, downloads the installer into the private
    // temporary folder and reports progress, completion or the one error box
    // followed by WM_SETUP_FINISH through reporter. Returns early, reporting
    // nothing more, once a stop is requested.
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

    // Any thread, once the worker has ended and launchInstaller has been
    // called if it was going to be: how the run ended. kClosed until the
    // installer starts or a failure is reported.
    ExitStatus exitStatus() const;

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
    // Records the start of the program at path, or throws, for the worker's
    // guard to show, when it failed.
    void requireStarted(const platform::ShellOpenResult& start, const std::string& path);
    // Builds the record and takes the files; throws as the error box expects.
    DownloadInfo prepareDownload(const std::string& url, std::int32_t size);
    // Before the download, when the build pins a publisher: the installer's
    // signature, so that a missing or unreadable one costs none of the
    // installer's bytes. False after its error box, or when the user's close
    // ended the request.
    bool fetchSignature(SetupReporter& reporter, const ProxySettings& proxy);
    void pollDownload(SetupReporter& reporter);
    // The file is complete: starts it once admitted, or shows why not.
    void finishDownload(SetupReporter& reporter);
    // After the download thread has ended with the file complete: true when
    // the installer passed the launch gate and is held for the start; false
    // after its error box, or when the user's close ended the check.
    bool admitInstaller(SetupReporter& reporter);
    // The one error box of a run; records the failure's exit status.
    void showFailure(SetupReporter& reporter, const SetupFailure& failure);
    // The same, then ends the dialog.
    void reportError(SetupReporter& reporter, const SetupFailure& failure);

    const SetupConfig m_config;
    // The worker's copy, written when it starts; launchInstaller reads it once
    // the worker ended. The installed-product shortcut rewrites its content
    // address.
    StubSettings m_settings;
    std::optional<platform::PrivateFolder> m_privateFolder;
    // Why there is none.
    std::string m_privateFolderError;
    std::wstring m_recordPath;
    // Held from before the record is first written until the process ends,
    // so that a second copy of the stub never writes the same files.
    std::unique_ptr<platform::FileLock> m_recordLock;
    // Driven by the worker; stopped by it on a stop request.
    Downloader m_downloader;
    std::atomic<bool> m_downloadFinished{false};
    // Written by the worker; read by launchInstaller once the worker ended.
    InstallerSource m_installerSource;
    // Written by the worker before the download; read by the launch gate.
    PublishedSignature m_installerSignature;
    std::unique_ptr<platform::ReadOnlyFile> m_admittedInstaller;
    std::atomic<ExitStatus> m_exitStatus{ExitStatus::kClosed};
};
