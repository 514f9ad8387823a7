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
#include "downloader/FilePath.h"
#include "downloader/ResumeState.h"
#include "net/SingleRequest.h"
#include "platform/DialogHost.h"
#include "platform/NativePath.h"
#include "platform/PathSeparator.h"
#include "platform/UserProxy.h"
#include "setup/ErrorClass.h"
#include "setup/InstallerParameters.h"
#include "setup/SetupMessages.h"
#include "setup/UiText.h"
#include "setup/WorkerGuard.h"
#include "text/TextConversion.h"
#include "verify/PublisherSignature.h"
#include "websetup/BuildConfig.h"

namespace {

constexpr std::chrono::milliseconds kPollInterval(30);
constexpr ProductId kReelBoxProductId = 3;
// The installed "Reel Box" opens a web address only when told so.
constexpr const wchar_t kWebContentType[] = L"10";
constexpr const wchar_t kWebContentPrefix[] = L"-turl ";
constexpr int kProxyAuthenticationRequired = 407;

std::string secondsSince(std::chrono::steady_clock::time_point start) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return (boost::format("%.1f") % elapsed.count()).str();
}

// The downloader gave back what its reservation took: what is free now is
// what the installer can have.
FailureCause diskFull(DownloadInfo& info) {
    const std::wstring installer = info.destFilePath();
    const std::wstring folder = installer.substr(0, installer.rfind(platform::kPathSeparator));
    boost::system::error_code error;
    const boost::filesystem::space_info space =
        boost::filesystem::space(platform::nativePath(folder), error);
    const std::int64_t available = error ? 0 : static_cast<std::int64_t>(space.available);
    const std::int64_t missing = info.totalSize() - available;
    FailureCause cause;
    cause.status = ExitStatus::kLocalSystem;
    cause.line = "the disk is full: " + std::to_string(missing) + " bytes more are needed in " +
                 wideToUtf8(folder) + " for " + wideToUtf8(installer);
    cause.plain = diskFullText(missing, folder);
    return cause;
}

// Why a download thread ended without the whole file.
FailureCause downloadFailure(Downloader& downloader) {
    DownloadInfo& info = downloader.downloadInfo();
    const std::string path = wideToUtf8(info.destFilePath());
    if (downloader.writeFailed()) {
        return localFailure("cannot write", path, "the installer could not be written");
    }
    const std::string url = info.baseUrls().empty() ? std::string() : info.baseUrls().front();
    const std::optional<DownloadError> error = downloader.lastError();
    if (!error) return localFailure("cannot prepare", path, "the file could not be created");
    if (*error == DE_DiskFull) return diskFull(info);
    switch (*error) {
        case DE_NotFound:
            return serverRefusal(url, 404, {});
        case DE_Gone:
            return serverRefusal(url, 410, {});
        case DE_Unavailable:
            return serverRefusal(url, 503, {});
        case DE_RangeIgnored:
            return unusableAnswer(url, "it answered a range request with the whole file");
        default: {
            // The parts failed too often: the last one says why, a connection
            // that broke or an answer that was refused.
            const Downloader::PartFailure part = downloader.lastPartFailure();
            FailureCause cause = part.curlCode != CURLE_OK
                                     ? connectionFailure(url, part.curlCode, {})
                                     : unusableAnswer(url, part.cause);
            cause.line = "the download from " + url + " failed (error " + std::to_string(*error) +
                         "): " + (part.cause.empty() ? "no part could be fetched" : part.cause);
            return cause;
        }
    }
}

// What the size request's answer says, for the short log.
std::string describeAnswer(const InstallerSource& source, int status, std::int64_t size) {
    std::string text = "size request: " + source.url + " answered " + std::to_string(status) +
                       ", length " + std::to_string(size);
    text += source.validator.empty() ? ", no validator" : ", validator " + source.validator;
    if (source.digest.digests.empty()) text += ", no digest";
    for (const AnnouncedDigest& digest : source.digest.digests) {
        text += std::string(", digest ") + digestAlgorithmName(digest.algorithm);
    }
    return text;
}

}  // namespace

std::string shortLogPath(const std::string& privateFolder) {
    return wideToUtf8(utf8ToWide(privateFolder) + platform::kPathSeparator + L"websetup.log");
}

SetupConfig SetupConfig::fromBuild() {
    SetupConfig config;
    config.productKey = buildconfig::kProductKey;
    config.downloadHost = buildconfig::kDownloadHostOverride;
    config.probeUrl = *buildconfig::kProbeUrlOverride != '\0' ? buildconfig::kProbeUrlOverride
                                                              : kConnectivityProbeUrl;
    config.pinnedPublisher = buildconfig::kPinnedPublisher;
    config.stampKey = buildconfig::kStampKey;
    return config;
}

SetupFlow::SetupFlow(SetupConfig config) : m_config(std::move(config)) {}

bool SetupFlow::isDownloadComplete() const { return m_downloadFinished; }

ExitStatus SetupFlow::exitStatus() const { return m_exitStatus; }

void SetupFlow::openRunLog() {
    if (m_privateFolder || !m_privateFolderError.empty()) return;
    // The shared temporary folder is writable by everyone and these names
    // are predictable: the files live in a folder only this user can reach.
    try {
        m_privateFolder = platform::privateTempFolder(
            platform::utf8Path(boost::filesystem::temp_directory_path()));
    } catch (const std::exception& error) {
        // Told to the user once the download needs the folder.
        m_privateFolderError = error.what();
        return;
    }
    if (!m_privateFolder->fallbackReason.empty()) {
        DownloaderLog::failure(m_privateFolder->fallbackReason + "; working in " +
                               m_privateFolder->path);
    }
    (void)DownloaderLog::openShortLog(shortLogPath(m_privateFolder->path));
    DownloaderLog::step(std::string("start: websetup ") + buildconfig::kVersion + ", product " +
                        m_config.productKey + ", " +
                        (m_config.pinnedPublisher.empty()
                             ? std::string("no publisher pinned")
                             : "publisher " + pinnedPublisherName(m_config.pinnedPublisher)));
}

void SetupFlow::runSetup(SetupReporter& reporter, const StubSettings& settings) {
    openRunLog();
    m_settings = settings;
    if (!m_settings.stampRefusal.empty()) DownloaderLog::failure(m_settings.stampRefusal);
    for (const std::string& dropped : m_settings.droppedSettings) DownloaderLog::failure(dropped);
    // Not examined: should it fail, the first request fails and its error
    // box tells the user.
    (void)curl_global_init(CURL_GLOBAL_ALL);

    const ProxySettings proxy = chooseProxy(reporter.stopFlag());
    // A user who closed the window during the probe is waiting for this
    // thread.
    if (reporter.stopRequested()) return;

    DownloadInfo info;
    bool download = false;
    const std::optional<SetupFailure> failure = failureOf([&] {
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
    if (!fetchSignature(reporter, proxy)) return;

    // Not examined: the download thread writes the record again before it
    // transfers anything, and fails visibly if it cannot.
    (void)info.save(m_recordPath);
    m_downloader.setProxy(proxy);
    m_downloader.setDownloadInfo(info);
    m_downloader.setTempFilePath(m_recordPath);
    m_downloader.setResumeState(resumeStatePath(m_recordPath), m_installerSource.validator);
    if (info.isComplete()) {
        // An earlier run left the whole file, and the server still has it.
        finishDownload(reporter);
        return;
    }
    m_downloader.beginDownload();
    if (reporter.stopRequested()) {
        m_downloader.stop();
        return;
    }
    pollDownload(reporter);
}

ProxySettings SetupFlow::chooseProxy(const std::atomic<bool>& stopFlag) const {
    try {
        const std::optional<std::wstring> configured = platform::userProxyString();
        if (!configured) {
            DownloaderLog::step("proxy: none configured, connecting directly");
            return ProxySettings();
        }
        ProxySettings candidate = proxyFromText(wideToUtf8(*configured));
        // The body only shows that the proxy carries requests; sendRequest
        // keeps its first few KiB.
        std::ostringstream body;
        std::string errorText;
        RequestControl control;
        control.stopFlag = &stopFlag;
        RequestAnswer answer;
        const std::int32_t result =
            sendRequest(m_config.probeUrl, {}, candidate, body, errorText, false, control, &answer);
        // A proxy that answers carries requests, even when it blocks the
        // probe's site (403) or cannot reach it (5xx): the installer's host
        // is another. Only a 407 that survives our answer to its challenge
        // (credentials it did not get or did not take) or no whole answer at
        // all (no connection, a time-out) means it cannot be used.
        const int status = answer.status;
        const std::string authenticated = answer.proxyAuthScheme.empty()
                                              ? std::string()
                                              : ", authenticated with " + answer.proxyAuthScheme;
        if (result == CURLE_OK ||
            (result == CURLE_HTTP_RETURNED_ERROR && status != kProxyAuthenticationRequired)) {
            DownloaderLog::step("proxy: " + proxyDisplayName(candidate) + " answered the probe (" +
                                std::to_string(status) + authenticated + "), used");
            return candidate;
        }
        DownloaderLog::step("proxy: " + proxyDisplayName(candidate) +
                            " not used, connecting directly: " + errorText);
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
    if (result != CURLE_OK) {
        throw ErrorClass{ErrorClass::kDownloadError, result,
                         connectionFailure(url, result, errorText)};
    }
    // An error page's length (a proxy's 407, a 404) is not the installer's:
    // the box names the status instead. HTTP statuses and libcurl's results
    // (below 100) do not overlap.
    const int status = finalStatus(headers);
    source = InstallerSource::of(url, headers);
    if (status < 200 || status > 299) {
        throw ErrorClass{ErrorClass::kDownloadError, status,
                         serverRefusal(source.url, status, finalStatusText(headers))};
    }
    // The final answer's length: a redirect's own Content-Length describes
    // the redirect, not the installer.
    const std::optional<std::string> length = finalContentLength(headers);
    if (!length) {
        throw ErrorClass{ErrorClass::kServerError, ErrorClass::kMissingContentLength,
                         unusableAnswer(source.url, "it names no Content-Length")};
    }
    // Always a number: a malformed Content-Length fails the request itself.
    const std::optional<std::int64_t> size = parseContentLength(*length);
    if (!size || *size > std::numeric_limits<std::int32_t>::max()) {
        throw ErrorClass{
            0, 0,
            unusableAnswer(source.url,
                           "its length " + *length + " is over the 2 GiB an installer may have")};
    }
    DownloaderLog::step(describeAnswer(source, status, *size));
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
    requireStarted(platform::shellOpen(product.exePath(), contentAddress),
                   wideToUtf8(product.exePath()));
    return true;
}

void SetupFlow::requireStarted(const platform::ShellOpenResult& start, const std::string& path) {
    if (start.started) {
        DownloaderLog::step("started " + path);
        m_exitStatus = ExitStatus::kStarted;
        return;
    }
    // A user who waits for a program that never comes must be told.
    throw ErrorClass{0, 0, startFailure(path, start.error)};
}

DownloadInfo SetupFlow::prepareDownload(const std::string& url, std::int32_t size) {
    DownloadInfo info;
    info.setResourcePath("");
    info.setTotalSize(size);
    info.setDefaultPartSize();
    info.setDefaultWorkersCount();
    info.setBaseUrls({url});

    if (!m_privateFolder) {
        throw ErrorClass{0, 0,
                         localFailure("cannot make a private folder in",
                                      platform::utf8Path(boost::filesystem::temp_directory_path()),
                                      m_privateFolderError)};
    }
    const std::wstring folder = utf8ToWide(m_privateFolder->path);
    const std::wstring tag = utf8ToWide(info.fileTag());
    m_recordPath = folder + platform::kPathSeparator + L"_" + tag + L".txt";
    const std::wstring installer = folder + platform::kPathSeparator +
                                   productFileStem(m_settings.productId) + L"_" + tag + L".exe";
    info.setDestFilePath(installer);
    if (!info.isValid()) throw std::runtime_error("Undefined error!");

    // Another copy of this stub downloading into the same files would
    // corrupt them, or start an installer still being written.
    if (!m_recordLock) m_recordLock = platform::FileLock::tryLock(wideToUtf8(m_recordPath));
    if (!m_recordLock) {
        throw ErrorClass{0, 0,
                         localFailure("cannot take", wideToUtf8(m_recordPath),
                                      "another copy of the stub is downloading into it")};
    }

    std::string why;
    if (std::optional<DownloadInfo> earlier = resumableDownload(
            info, m_installerSource.validator, resumeStatePath(m_recordPath), why)) {
        DownloaderLog::step("download: resuming " + wideToUtf8(installer) + " with " +
                            std::to_string(earlier->committedSize()) + " bytes done");
        return *earlier;
    }
    DownloaderLog::step("download: starting " + wideToUtf8(installer) + " afresh: " + why);
    // The old installer holds nothing to keep then; removing it means an
    // installer still running from it keeps its own file instead of being
    // overwritten in place.
    boost::system::error_code ignored;  // the downloader reports a file it cannot create
    boost::filesystem::remove(platform::nativePath(installer), ignored);
    return info;
}

void SetupFlow::pollDownload(SetupReporter& reporter) {
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        reporter.waitForStop(kPollInterval);
        // The record counts parts handed to the writer as done; the file is
        // complete only once the download thread has ended with it closed.
        if (!m_downloader.isRunning()) {
            if (m_downloader.isFinished()) {
                const DownloadInfo& info = m_downloader.downloadInfo();
                DownloaderLog::step("download: complete, " + std::to_string(info.totalSize()) +
                                    " bytes from " + info.baseUrls().front() + " in " +
                                    secondsSince(started) + " s");
                finishDownload(reporter);
            } else {
                const FailureCause cause = downloadFailure(m_downloader);
                DownloaderLog::failure(cause.line);
                reportError(reporter, {uiText(12), cause});
            }
            return;
        }
        const auto percent = static_cast<std::int32_t>(m_downloader.downloadedBytes() * 100.0 /
                                                       m_downloader.downloadInfo().totalSize());
        reporter.postMessage(makeProgressMessage(percent, progressText(percent)));
        if (reporter.stopRequested()) {
            m_downloader.stop();
            return;
        }
    }
}

void SetupFlow::finishDownload(SetupReporter& reporter) {
    if (!admitInstaller(reporter)) return;
    m_downloadFinished = true;
    reporter.postMessage(makeProgressMessage(100, L""));
}

bool SetupFlow::fetchSignature(SetupReporter& reporter, const ProxySettings& proxy) {
    GateSignature fetched =
        fetchGateSignature(m_installerSource, proxy, m_config.pinnedPublisher, reporter.stopFlag());
    if (fetched.failure) {
        reportError(reporter, *fetched.failure);
        return false;
    }
    m_installerSignature = std::move(fetched.signature);
    return !reporter.stopRequested();
}

bool SetupFlow::admitInstaller(SetupReporter& reporter) {
    LaunchGateInput input;
    input.installerPath = wideToUtf8(m_downloader.downloadInfo().destFilePath());
    input.resumeStatePath = resumeStatePath(m_recordPath);
    input.source = m_installerSource;
    input.pinnedPublisher = m_config.pinnedPublisher;
    input.signature = m_installerSignature;
    input.stopFlag = &reporter.stopFlag();
    LaunchGateResult result = passLaunchGate(input);
    if (result.failure) reportError(reporter, *result.failure);
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

void SetupFlow::showFailure(SetupReporter& reporter, const SetupFailure& failure) {
    m_exitStatus = failure.cause.status;
    const std::string page =
        failure.cause.offerManualDownload ? productManualPage(m_settings.productId) : std::string();
    const int answer = reporter.showErrorBox(
        failure.boxText, boxDetails(failure.cause, page, DownloaderLog::shortLogPath()));
    // "Yes" opens the page the box offers; either answer ends the run.
    if (answer == platform::kFirstButtonResult && !page.empty() && !reporter.stopRequested()) {
        reporter.openWebPage(page);
    }
}

void SetupFlow::reportError(SetupReporter& reporter, const SetupFailure& failure) {
    showFailure(reporter, failure);
    reporter.postMessage(makeFinishMessage());
}

void SetupFlow::launchInstaller(SetupReporter& reporter) {
    if (!m_downloadFinished || !m_admittedInstaller) return;
    const std::optional<SetupFailure> failure = failureOf([this] {
        requireStarted(platform::shellOpen(*m_admittedInstaller, installerParameters(m_settings)),
                       m_admittedInstaller->path());
    });
    // The dialog ends right after, whatever the answer.
    if (failure) showFailure(reporter, *failure);
}
