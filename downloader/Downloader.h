#pragma once

#include <curl/curl.h>

#include <atomic>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "downloader/DownloadError.h"
#include "downloader/DownloadInfo.h"
#include "downloader/ResponseHeader.h"
#include "net/EasyRequest.h"
#include "net/ProxySettings.h"

class DownloaderAsyncWriter;
struct TransferState;

// One download session: fetches the file its DownloadInfo describes in parts,
// over up to workersCount() parallel ranged connections on one libcurl multi
// handle, verifies every part, hands good parts to a background writer and
// keeps the download record up to date so that a later download() resumes.
//
// Threads: the controlling thread configures, starts, polls and stops the
// session; download() runs on the download thread, which owns every libcurl
// handle and callback; the writer has a thread of its own. Configure only
// while no download runs.
class Downloader {
public:
    using UserPData = DownloaderUserPData;
    using UserDataList = std::vector<std::shared_ptr<UserPData>>;

    // More failed part transfers than this on one address end the transfer.
    static constexpr std::int32_t MAX_VERIFICATION_ERROR_COUNT = 3;

    Downloader();
    // Stops the download and waits for its thread; a lock or join that fails
    // ends the program.
    ~Downloader();  // NOLINT(bugprone-exception-escape)
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    void setProxy(const ProxySettings& proxy);
    ProxySettings& proxy();
    void setDownloadInfo(const DownloadInfo& info);
    // isComplete() and totalSize() may be read from any thread while the
    // download runs; the rest only while it does not.
    DownloadInfo& downloadInfo();
    void setTempFilePath(std::wstring path);
    std::wstring tempFilePath() const;
    // Bounds each part transfer: slower than this for that long ends it as a
    // failed transfer, which is retried.
    void setRequestLimits(const RequestLimits& limits);

    // Keeps a resume state at statePath (downloader/ResumeState.h) for a
    // later run, under the server's validator of the file. An empty
    // validator keeps none, and an empty path (the default) leaves any file
    // alone. A download that does not continue earlier progress removes the
    // state before it writes anything.
    void setResumeState(std::wstring statePath, std::string validator);

    // Starts the download thread, unless no record path is set. A session
    // whose thread has ended may be started again; it resumes from its record.
    void beginDownload();
    // True while the download thread has not ended. Controlling thread only.
    bool isRunning();
    // Bytes held so far: committed parts plus bytes in the workers' buffers.
    std::int32_t downloadedBytes() const;
    // Requests the end of the download and waits for the download thread.
    // Never call it from the download thread.
    void stop();

    // True once the download thread has ended with every part written, the
    // file flushed and closed without error. Only then may the file be used:
    // downloadInfo().isComplete() turns true while the writer may still hold
    // the last parts. Controlling thread only.
    bool isFinished();
    // True when the last download ended because the file could not be
    // written (for example a full disk); its record was reset.
    bool writeFailed() const;
    // Result of the last transfer of the last download; DE_DiskFull when the
    // file could not be given its size for lack of space; empty when no
    // transfer was made for another reason (the file could not be prepared,
    // or none ran yet).
    std::optional<DownloadError> lastError() const;

    // Why a part transfer failed: libcurl's result (CURLE_OK when the answer
    // came but was refused) and the cause in words.
    struct PartFailure {
        CURLcode curlCode = CURLE_OK;
        std::string cause;
    };
    // The last part transfer of the last download that failed; an empty
    // cause when none did. Controlling thread, once the download thread has
    // ended.
    PartFailure lastPartFailure() const;

private:
    void setDownloadedBytes(std::int32_t bytes);
    void download();
    // Prepares the destination file and transfers the outstanding parts into
    // it. Nothing when the file could not be prepared (the cause is logged);
    // otherwise whether everything handed to the writer reached the file.
    std::optional<bool> transferIntoDestFile();
    // The file is resumed from, or created anew; false when it cannot be.
    bool prepareDestFile();
    // Creates the file anew at its full size; false, with the cause logged
    // and lastError() DE_DiskFull when the disk lacks the space, when it
    // cannot. A failed attempt leaves no file behind.
    bool allocateDestFile();
    // Removes the file a failed allocateDestFile made, giving its blocks
    // back. `noSpace`: the system said the disk is full.
    void releaseFailedReservation(bool noSpace);
    // Removes the resume state; false, with the cause logged, when it stays.
    bool forgetResumeState();
    // Queues a resume point behind the parts handed to the writer so far:
    // when `now`, or when the last one is older than kResumePointInterval.
    void saveResumePoint(DownloaderAsyncWriter* writer, bool now);
    bool destFileMatches() const;
    DownloadError downloadFromAddresses(DownloaderAsyncWriter* writer);
    // The stop request of the caller, or a writer that can no longer write.
    bool shouldStop(const DownloaderAsyncWriter* writer) const;

    // The segmented transfer of every outstanding part from one address.
    DownloadError downloadFromUrl(DownloaderAsyncWriter* writer, const std::string& address);
    bool setUpTransfer(TransferState& transfer, const std::string& address);
    void logIteration() const;
    // (Re)starts every worker whose transfer finished; false when libcurl
    // refused a handle.
    bool startWorkers(TransferState& transfer, DownloaderAsyncWriter* writer);
    // Waits and drives libcurl until a transfer has finished or the socket
    // wait failed. A value means the transfer must end with it.
    std::optional<DownloadError> waitAndPerform(TransferState& transfer,
                                                DownloaderAsyncWriter* writer);
    // Records the results of the transfers libcurl reports finished; true
    // when there was one.
    bool collectFinished(TransferState& transfer);
    // Ends a transfer early: partly received parts are kept for a resume.
    DownloadError endTransfer(TransferState& transfer, DownloaderAsyncWriter* writer,
                              DownloadError result);
    void curlCleanUp(TransferState& transfer);
    void publishProgress(const TransferState& transfer);

    DownloadError verifyAndSaveDownloadedParts(TransferState& transfer,
                                               DownloaderAsyncWriter* writer);
    void downloaderStopped(const UserDataList& userData, DownloaderAsyncWriter* writer);

    // libcurl's CURLOPT_WRITEFUNCTION for the part transfers.
    static std::size_t writeCallback(char* data, std::size_t size, std::size_t count,
                                     void* userData);

    DownloadInfo m_downloadInfo;
    std::wstring m_tempFilePath;
    std::wstring m_resumeStatePath;
    std::string m_resumeValidator;
    // The If-Range value of this download's part requests; empty unless it
    // continues earlier progress.
    std::string m_ifRange;
    std::chrono::steady_clock::time_point m_lastResumePoint;
    ProxySettings m_proxy;
    RequestLimits m_limits;
    std::wstring m_logFilePath;
    std::atomic<bool> m_stopped{false};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_writeFailed{false};
    // The last DownloadError, or kNoResult.
    static constexpr std::int32_t kNoResult = -1;
    std::atomic<std::int32_t> m_lastError{kNoResult};
    // Written by the download thread only.
    PartFailure m_lastPartFailure;
    mutable boost::mutex m_downloadedBytesMutex;
    std::int32_t m_downloadedBytes = 0;
    // The multi handle of the running transfer, so that stop() can wake its
    // wait at once; guarded by its mutex, held only around that access.
    boost::mutex m_activeMultiMutex;
    CURLM* m_activeMulti = nullptr;
    boost::thread m_thread;
};
