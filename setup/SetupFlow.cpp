#include "setup/SetupFlow.h"

#include <curl/curl.h>

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>
#include <chrono>
#include <limits>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "app/InstalledProduct.h"
#include "app/ProductCatalog.h"
#include "downloader/DownloaderLog.h"
#include "downloader/ResumeState.h"
#include "net/SingleRequest.h"
#include "platform/NativePath.h"
#include "platform/PathSeparator.h"
#include "platform/UserProxy.h"
#include "setup/ErrorClass.h"
#include "setup/InstallerParameters.h"
#include "setup/SetupMessages.h"
#include "setup/UiText.h"
#include "setup/WorkerGuard.h"
#include "text/TextConversion.h"
#include "websetup/BuildConfig.h"

namespace {

constexpr std::chrono::milliseconds kPollInterval(30);
constexpr ProductId kReelBoxProductId = 3;
// The installed "Reel Box" opens a web address only when told so.
constexpr const wchar_t kWebContentType[] = L"10";
constexpr const wchar_t kWebContentPrefix[] = L"-turl ";

}  // namespace

SetupConfig SetupConfig::fromBuild() {
    SetupConfig config;
    config.productKey = buildconfig::kProductKey;
    config.downloadHost = buildconfig::kDownloadHostOverride;
    config.probeUrl = *buildconfig::kProbeUrlOverride != '\0' ? buildconfig::kProbeUrlOverride
                                                              : kConnectivityProbeUrl;
    config.pinnedPublisher = buildconfig::kPinnedPublisher;
    return config;
}

SetupFlow::SetupFlow(SetupConfig config) : m_config(std::move(config)) {}

bool SetupFlow::isDownloadComplete() const { return m_downloadFinished; }

void SetupFlow::runSetup(SetupReporter& reporter, const StubSettings& settings) {
    m_settings = settings;
    // Not examined: should it fail, the first request fails and its error
    // box tells the user.
    (void)curl_global_init(CURL_GLOBAL_ALL);

    const ProxySettings proxy = chooseProxy(reporter.stopFlag());
    // A user who closed the window during the probe is waiting for this
    // thread.
    if (reporter.stopRequested()) return;

    DownloadInfo info;
    bool download = false;
    const std::optional<std::wstring> failure = errorBoxTextOf([&] {
        const std::string url = productDownloadUrl(m_settings.productId, m_config.downloadHost);
        const std::optional<std::int32_t> size =
            requestInstallerSize(url, proxy, reporter.stopFlag(), m_installerSource);
        if (!size || reporter.stopRequested()) return;
        if (openInstalledProduct()) {
            reporter.postMessage(makeFinishMessage());
            return;
        }
        info = prepareDownload(url, *size);
        reporter.postMessage(makeStatusMessage(std::make_unique<std::wstring>(uiText(10))));
        download = true;
    });
    if (failure) {
        reportError(reporter, *failure);
        return;
    }
    if (!download) return;

    // Not examined: the download thread writes the record again before it
    // transfers anything, and fails visibly if it cannot.
    (void)info.save(m_recordPath);
    m_downloader.setProxy(proxy);
    m_downloader.setDownloadInfo(info);
    m_downloader.setTempFilePath(m_recordPath);
    m_downloader.setResumeState(resumeStatePath(m_recordPath), m_installerSource.validator);
    if (info.isComplete()) {
        // An earlier run left the whole file, and the server still has it.
        finishDownload(reporter, proxy);
        return;
    }
    m_downloader.beginDownload();
    if (reporter.stopRequested()) {
        m_downloader.stop();
        return;
    }
    pollDownload(reporter, proxy);
}

ProxySettings SetupFlow::chooseProxy(const std::atomic<bool>& stopFlag) const {
    try {
        const std::optional<std::wstring> configured = platform::userProxyString();
        if (!configured) return ProxySettings();
        const std::string text = wideToUtf8(*configured);
        ProxySettings candidate;
        candidate.mode = 2;
        const std::size_t colon = text.find(':');
        candidate.host = text.substr(0, colon);
        candidate.port = colon == std::string::npos ? std::string() : text.substr(colon + 1);
        // The body only shows that the proxy carries requests; sendRequest
        // keeps its first few KiB and fails a refusal such as a 407.
        std::ostringstream body;
        std::string errorText;
        RequestControl control;
        control.stopFlag = &stopFlag;
        if (sendRequest(m_config.probeUrl, {}, candidate, body, errorText, false, control) ==
            CURLE_OK) {
            return candidate;
        }
    } catch (...) {
        // The proxy is an optimisation of the user's setup; without it the
        // download still goes out directly.
    }
    return ProxySettings();
}

std::optional<std::int32_t> SetupFlow::requestInstallerSize(const std::string& url,
                                                            const ProxySettings& proxy,
                                                            const std::atomic<bool>& stopFlag,
                                                            InstallerSource& source) const {
    std::vector<ResponseHeader> headers;
    std::string errorText;
    RequestControl control;
    control.stopFlag = &stopFlag;
    const std::int32_t result = fetchHeaders(url, {}, proxy, headers, errorText, control);
    // A request the user's close ended is no error to show.
    if (result == CURLE_ABORTED_BY_CALLBACK && stopFlag) return std::nullopt;
    if (result != CURLE_OK) throw ErrorClass{ErrorClass::kDownloadError, result};
    // An error page's length (a proxy's 407, a 404) is not the installer's:
    // the box names the status instead. HTTP statuses and libcurl's results
    // (below 100) do not overlap.
    const int status = finalStatus(headers);
    if (status < 200 || status > 299) throw ErrorClass{ErrorClass::kDownloadError, status};
    // The final answer's length: a redirect's own Content-Length describes
    // the redirect, not the installer.
    const std::optional<std::string> length = finalContentLength(headers);
    if (!length) throw ErrorClass{ErrorClass::kServerError, ErrorClass::kMissingContentLength};
    // Always a number: a malformed Content-Length fails the request itself.
    const std::optional<std::int64_t> size = parseContentLength(*length);
    if (!size || *size > std::numeric_limits<std::int32_t>::max()) {
        throw std::out_of_range("the installer's size is beyond 32 bits: " + *length);
    }
    source = InstallerSource::of(url, headers);
    return static_cast<std::int32_t>(*size);
}

bool SetupFlow::openInstalledProduct() {
    std::wstring& contentAddress = m_settings.contentAddress;
    if (m_settings.productId != kReelBoxProductId || m_settings.contentType.empty() ||
        contentAddress.empty()) {
        return false;
    }
    const InstalledProduct product;
    if (!product.installed) return false;
    if (m_settings.contentType == kWebContentType) {
        contentAddress.insert(0, kWebContentPrefix);
    }
    requireStarted(platform::shellOpen(product.exePath(), contentAddress));
    return true;
}

void SetupFlow::requireStarted(const platform::ShellOpenResult& start) {
    if (start.started) return;
    // A user who waits for a program that never comes must be told.
    m_failure = RunFailure::StartFailed;
    throw std::runtime_error(start.error);
}

DownloadInfo SetupFlow::prepareDownload(const std::string& url, std::int32_t size) {
    DownloadInfo info;
    info.setResourcePath("");
    info.setTotalSize(size);
    info.setDefaultPartSize();
    info.setDefaultWorkersCount();
    info.setBaseUrls({url});

    // The shared temporary folder is writable by everyone and these names
    // are predictable: the files live in a folder only this user can reach.
    const platform::PrivateFolder privateFolder =
        platform::privateTempFolder(platform::utf8Path(boost::filesystem::temp_directory_path()));
    if (!privateFolder.fallbackReason.empty()) {
        DownloaderLog::failure(privateFolder.fallbackReason + "; working in " + privateFolder.path);
    }
    const std::wstring folder = utf8ToWide(privateFolder.path);
    const std::wstring tag = utf8ToWide(info.fileTag());
    m_recordPath = folder + platform::kPathSeparator + L"_" + tag + L".txt";
    const std::wstring installer = folder + platform::kPathSeparator +
                                   productFileStem(m_settings.productId) + L"_" + tag + L".exe";
    info.setDestFilePath(installer);
    if (!info.isValid()) throw std::runtime_error("Undefined error!");

    // Another copy of this stub downloading into the same files would
    // corrupt them, or start an installer still being written.
    if (!m_recordLock) m_recordLock = platform::FileLock::tryLock(wideToUtf8(m_recordPath));
    if (!m_recordLock) throw std::runtime_error("another copy of the stub is downloading");

    std::string why;
    if (std::optional<DownloadInfo> earlier = resumableDownload(
            info, m_installerSource.validator, resumeStatePath(m_recordPath), why)) {
        DownloaderLog::line("resuming " + wideToUtf8(installer) + " with " +
                            std::to_string(earlier->committedSize()) + " bytes done");
        return *earlier;
    }
    DownloaderLog::line("starting " + wideToUtf8(installer) + " afresh: " + why);
    // The old installer holds nothing to keep then; removing it means an
    // installer still running from it keeps its own file instead of being
    // overwritten in place.
    boost::system::error_code ignored;  // the downloader reports a file it cannot create
    boost::filesystem::remove(platform::nativePath(installer), ignored);
    return info;
}

void SetupFlow::pollDownload(SetupReporter& reporter, const ProxySettings& proxy) {
    for (;;) {
        reporter.waitForStop(kPollInterval);
        // The record counts parts handed to the writer as done; the file is
        // complete only once the download thread has ended with it closed.
        if (!m_downloader.isRunning()) {
            if (m_downloader.isFinished()) {
                finishDownload(reporter, proxy);
            } else {
                DownloaderLog::failure("the download of " +
                                       wideToUtf8(m_downloader.downloadInfo().destFilePath()) +
                                       " ended incomplete");
                reportError(reporter, uiText(12));
            }
            return;
        }
        const auto percent = static_cast<std::int32_t>(m_downloader.downloadedBytes() * 100.0 /
                                                       m_downloader.downloadInfo().totalSize());
        reporter.postMessage(makeProgressMessage(
            percent, (boost::wformat(L"%s: %i%%") % uiText(11) % percent).str()));
        if (reporter.stopRequested()) {
            m_downloader.stop();
            return;
        }
    }
}

void SetupFlow::finishDownload(SetupReporter& reporter, const ProxySettings& proxy) {
    if (!admitInstaller(reporter, proxy)) return;
    m_downloadFinished = true;
    reporter.postMessage(makeProgressMessage(100, L""));
}

bool SetupFlow::admitInstaller(SetupReporter& reporter, const ProxySettings& proxy) {
    LaunchGateInput input;
    input.installerPath = wideToUtf8(m_downloader.downloadInfo().destFilePath());
    input.source = m_installerSource;
    input.proxy = proxy;
    input.pinnedPublisher = m_config.pinnedPublisher;
    input.stopFlag = &reporter.stopFlag();
    LaunchGateResult result = passLaunchGate(input);
    if (result.boxText) reportError(reporter, *result.boxText);
    m_admittedInstaller = std::move(result.installer);
    if (!m_admittedInstaller) return false;
    // Only once admitted: on Windows this holds the file undeletable until
    // the process ends, and a refused file must go. What starts is the held
    // file either way.
    if (!platform::restrictToOwner(input.installerPath)) {
        DownloaderLog::failure("cannot restrict " + input.installerPath + " to its owner");
    }
    return true;
}

void SetupFlow::reportError(SetupReporter& reporter, std::wstring text) {
    // Either answer closes the program.
    (void)reporter.showErrorBox(std::move(text));
    reporter.postMessage(makeFinishMessage());
}

void SetupFlow::launchInstaller(SetupReporter& reporter) {
    if (!m_downloadFinished || !m_admittedInstaller) return;
    const std::optional<std::wstring> failure = errorBoxTextOf([this] {
        requireStarted(platform::shellOpen(*m_admittedInstaller, installerParameters(m_settings)));
    });
    // Either answer closes the program, as the dialog does right after.
    if (failure) (void)reporter.showErrorBox(*failure);
}
