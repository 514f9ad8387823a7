#include "downloader/Downloader.h"

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>
#include <boost/thread/lock_guard.hpp>
#include <cstring>
#include <exception>
#include <fstream>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "downloader/DownloaderAsyncWriter.h"
#include "downloader/DownloaderLog.h"
#include "downloader/FilePath.h"
#include "downloader/ResumeState.h"
#include "platform/DurableFiles.h"
#include "platform/EnvironmentVariable.h"
#include "platform/NativePath.h"
#include "text/TextConversion.h"

namespace {

// Names a file that receives the downloader's diagnostic log; unset, the log
// stays closed.
constexpr const char* kLogFileVariable = "WEBSETUP_DOWNLOADER_LOG";

std::wstring logFilePathFromEnvironment() {
    const std::optional<std::string> path = platform::environmentVariable(kLogFileVariable);
    return path ? utf8ToWide(*path) : std::wstring();
}

// How much a crash may cost: at most this much transfer time is fetched
// again. Each resume point syncs the installer's data to the disk.
constexpr std::chrono::seconds kResumePointInterval(1);

// "<what> <path>: <system error>", from errno as the failed call left it.
std::string systemFailure(const std::string& what, const std::wstring& path) {
    const int error = errno;
    return what + " " + wideToUtf8(path) + ": " + std::generic_category().message(error);
}

}  // namespace

Downloader::Downloader() : m_logFilePath(logFilePathFromEnvironment()) {
    DownloaderLog::open(m_logFilePath);
}

// A lock or join that fails leaves no safe way on: ending the program, as a
// throwing destructor does, is the outcome wanted.
// NOLINTNEXTLINE(bugprone-exception-escape)
Downloader::~Downloader() { stop(); }

void Downloader::setProxy(const ProxySettings& proxy) { m_proxy = proxy; }
ProxySettings& Downloader::proxy() { return m_proxy; }
void Downloader::setDownloadInfo(const DownloadInfo& info) { m_downloadInfo = info; }
DownloadInfo& Downloader::downloadInfo() { return m_downloadInfo; }
void Downloader::setTempFilePath(std::wstring path) { m_tempFilePath = std::move(path); }
std::wstring Downloader::tempFilePath() const { return m_tempFilePath; }
void Downloader::setRequestLimits(const RequestLimits& limits) { m_limits = limits; }

void Downloader::setResumeState(std::wstring statePath, std::string validator) {
    m_resumeStatePath = std::move(statePath);
    m_resumeValidator = std::move(validator);
}

void Downloader::beginDownload() {
    DownloaderLog::line("beginDownload()");
    // A thread that has ended but was never joined must be joined before
    // its object is replaced.
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_stopped = false;
    m_finished = false;
    m_writeFailed = false;
    m_lastError = kNoResult;
    m_lastPartFailure = PartFailure();
    // What a resumed record holds already is on the disk (resumableDownload):
    // progress starts there rather than at 0 until the thread gets going.
    setDownloadedBytes(m_downloadInfo.committedSize());
    if (m_tempFilePath.empty()) {
        return;
    }
    // A lambda rather than a member pointer: the 32-bit Windows compiler fails
    // on Boost.Thread's member-pointer call.
    m_thread = boost::thread([this] { download(); });
}

bool Downloader::isRunning() {
    if (!m_thread.joinable()) {
        return false;
    }
    return !m_thread.try_join_for(boost::chrono::milliseconds(0));
}

std::int32_t Downloader::downloadedBytes() const {
    boost::lock_guard<boost::mutex> lock(m_downloadedBytesMutex);
    return m_downloadedBytes;
}

void Downloader::setDownloadedBytes(std::int32_t bytes) {
    boost::lock_guard<boost::mutex> lock(m_downloadedBytesMutex);
    m_downloadedBytes = bytes;
}

void Downloader::stop() {
    m_stopped = true;
    {
        boost::lock_guard<boost::mutex> lock(m_activeMultiMutex);
        if (m_activeMulti != nullptr) {
            // Ignored: should the wake-up fail, the wait still ends within
            // its limit and sees the request then.
            (void)curl_multi_wakeup(m_activeMulti);
        }
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool Downloader::isFinished() { return !isRunning() && m_finished; }

bool Downloader::writeFailed() const { return m_writeFailed; }

std::optional<DownloadError> Downloader::lastError() const {
    const std::int32_t value = m_lastError;
    if (value == kNoResult) {
        return std::nullopt;
    }
    return static_cast<DownloadError>(value);
}

Downloader::PartFailure Downloader::lastPartFailure() const { return m_lastPartFailure; }

bool Downloader::shouldStop(const DownloaderAsyncWriter* writer) const {
    return m_stopped || (writer != nullptr && writer->failed());
}

void Downloader::download() {
    try {
        DownloaderLog::line("Downloader::download()");
        if (!makeSafeToWrite(m_downloadInfo.destFilePath())) return;
        std::optional<bool> written = transferIntoDestFile();
        // A server that answers the parts of a resumed download with the
        // whole file no longer vouches for the bytes the earlier run left
        // (back-ends that disagree on the tag, a date it takes as weak):
        // they are fetched again, unconditioned, once.
        if (written.value_or(false) && m_lastError == DE_RangeIgnored && !m_ifRange.empty() &&
            !m_stopped) {
            DownloaderLog::line(
                "the server ignores the ranges of the resumed download: "
                "starting afresh");
            m_downloadInfo.resetParts();
            written = transferIntoDestFile();
        }
        if (!written) return;
        if (!*written) {
            // Which parts reached the disk is unknown: none of them may be
            // trusted by a resume, and nothing may report the file complete.
            m_writeFailed = true;
            m_downloadInfo.resetParts();
            (void)forgetResumeState();  // logged; the next run verifies what it resumes
            DownloaderLog::line("Error: couldn't write dest file");
            (void)m_downloadInfo.save(m_tempFilePath);  // best effort; the disk may be full
            return;
        }
        m_finished = m_downloadInfo.isComplete();
    } catch (const std::exception& error) {
        DownloaderLog::line(boost::format("Error: download ended by %s") % error.what());
    } catch (...) {
        DownloaderLog::line("Error: download ended by an unknown exception");
    }
}

std::optional<bool> Downloader::transferIntoDestFile() {
    if (!prepareDestFile()) {
        DownloaderLog::line("couldn't allocate dest file.");
        return std::nullopt;
    }
    DownloaderLog::line("Open dest file!");
    std::fstream file(platform::nativePath(m_downloadInfo.destFilePath()).c_str(),
                      std::ios::binary | std::ios::in | std::ios::out);
    if (!file.is_open()) {
        DownloaderLog::failure(systemFailure("cannot open", m_downloadInfo.destFilePath()));
        DownloaderLog::line("Error: Couldn't open dest file");
        return std::nullopt;
    }
    if (!m_downloadInfo.save(m_tempFilePath)) {
        return std::nullopt;
    }
    setDownloadedBytes(m_downloadInfo.committedSize());
    DownloaderAsyncWriter writer(file);
    writer.start();
    // The first verified parts make a resume point at once.
    m_lastResumePoint = std::chrono::steady_clock::now() - kResumePointInterval;
    m_lastError = downloadFromAddresses(&writer);
    saveResumePoint(&writer, true);
    writer.stop();
    const bool written = !writer.failed();
    file.close();
    return written && !file.fail();
}

bool Downloader::prepareDestFile() {
    const bool keepParts = destFileMatches() && m_downloadInfo.hasProgress();
    if (!keepParts) {
        m_downloadInfo.resetParts();
    }
    bool resumed = m_downloadInfo.committedSize() > 0;
    for (std::int32_t i = 0; i < m_downloadInfo.workersCount(); ++i) {
        resumed = resumed || m_downloadInfo.savedLength(i) > 0;
    }
    m_ifRange = resumed ? m_resumeValidator : std::string();
    // No state may outlive the bytes it describes: it goes before any of
    // them is written again.
    if (!resumed && !forgetResumeState()) {
        return false;
    }
    return destFileMatches() || allocateDestFile();
}

bool Downloader::forgetResumeState() {
    if (m_resumeStatePath.empty()) {
        return true;
    }
    const std::string error = platform::removeFileDurably(wideToUtf8(m_resumeStatePath));
    if (!error.empty()) {
        DownloaderLog::failure(error);
    }
    return error.empty();
}

void Downloader::saveResumePoint(DownloaderAsyncWriter* writer, bool now) {
    if (m_resumeStatePath.empty() || m_resumeValidator.empty()) {
        return;
    }
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - m_lastResumePoint < kResumePointInterval) {
        return;
    }
    m_lastResumePoint = time;
    // Taken now, on the download thread: it claims only the parts queued so
    // far, which the writer writes before it runs the action.
    const std::string state = encodeResumeState({m_resumeValidator, m_downloadInfo});
    writer->afterEarlierWrites([destination = wideToUtf8(m_downloadInfo.destFilePath()),
                                path = wideToUtf8(m_resumeStatePath), state] {
        std::string error = platform::syncFileData(destination);
        if (error.empty()) {
            error = platform::replaceFileDurably(path, state);
        }
        if (!error.empty()) {
            DownloaderLog::line("Error: no resume point saved: " + error);
        }
    });
}

bool Downloader::destFileMatches() const {
    boost::system::error_code error;
    const auto size =
        boost::filesystem::file_size(platform::nativePath(m_downloadInfo.destFilePath()), error);
    return !error && static_cast<std::int64_t>(size) == m_downloadInfo.totalSize();
}

bool Downloader::allocateDestFile() {
    const boost::filesystem::path path = platform::nativePath(m_downloadInfo.destFilePath());
    boost::system::error_code error;
    // Ignored: a file that cannot be removed cannot be truncated either, and
    // the open below reports it.
    (void)boost::filesystem::remove(path, error);
    const std::int32_t total = m_downloadInfo.totalSize();
#ifndef _WIN32
    // Reserving the blocks up front reports a full disk here, before any
    // transfer, as writing the zeros did, at a fraction of the cost.
    // Just removed: anything there now was not put there by us.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        DownloaderLog::failure(systemFailure("cannot create", m_downloadInfo.destFilePath()));
        return false;
    }
    const int reserved = total > 0 ? ::posix_fallocate(fd, 0, total) : 0;
    const bool closed = ::close(fd) == 0;
    if (reserved != EINVAL && reserved != EOPNOTSUPP) {
        if (reserved == 0 && closed) return true;
        if (reserved != 0) errno = reserved;  // else close's own
        DownloaderLog::failure(
            systemFailure(reserved != 0 ? "cannot reserve space for" : "cannot close",
                          m_downloadInfo.destFilePath()));
        releaseFailedReservation(reserved == ENOSPC);
        return false;
    }
    // A file system without reservations gets the zeros written instead.
#endif
    {
        std::ofstream file(path.c_str(), std::ios::binary | std::ios::out | std::ios::trunc);
        if (!file.is_open()) {
            DownloaderLog::failure(systemFailure("cannot create", m_downloadInfo.destFilePath()));
            return false;
        }
        // Large blocks: the stream hands each one to the system in one call.
        constexpr std::int32_t kBlockSize = 1024 * 1024;
        static const std::vector<char> zeros(kBlockSize);
        for (std::int32_t written = 0; written < total && !file.bad();) {
            const std::int32_t block = std::min(total - written, kBlockSize);
            file.write(zeros.data(), block);
            written += block;
        }
        file.flush();
        if (!file.bad()) return true;
        DownloaderLog::failure(systemFailure("cannot fill", m_downloadInfo.destFilePath()));
    }
    releaseFailedReservation(false);
    return false;
}

void Downloader::releaseFailedReservation(bool noSpace) {
    // allocateDestFile removed what was there before, so the whole file is
    // what the failed reservation took: left, it could fill the disk to the
    // last block (ext4 keeps what a failed posix_fallocate got).
    const boost::filesystem::path path = platform::nativePath(m_downloadInfo.destFilePath());
    boost::system::error_code error;
    if (!boost::filesystem::remove(path, error) && error) {
        DownloaderLog::failure("cannot remove " + wideToUtf8(m_downloadInfo.destFilePath()) + ": " +
                               error.message());
    }
    // Where the system gave no reason (a stream that failed), the space left
    // with the file gone tells whether the disk is too full for it.
    const boost::filesystem::space_info space = boost::filesystem::space(path.parent_path(), error);
    if (noSpace ||
        (!error && space.available < static_cast<std::uintmax_t>(m_downloadInfo.totalSize()))) {
        m_lastError = DE_DiskFull;
    }
}

DownloadError Downloader::downloadFromAddresses(DownloaderAsyncWriter* writer) {
    const std::vector<std::string> baseUrls = m_downloadInfo.baseUrls();
    const std::string resourcePath = m_downloadInfo.resourcePath();
    if (baseUrls.empty()) {
        return downloadFromUrl(writer, resourcePath);
    }
    DownloadError result = DE_Success;
    for (const std::string& baseUrl : baseUrls) {
        result = downloadFromUrl(writer, baseUrl + resourcePath);
        if (result != DE_Unavailable && result != DE_TooManyErrors) {
            break;
        }
    }
    return result;
}
