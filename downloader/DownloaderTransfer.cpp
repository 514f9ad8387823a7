#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/select.h>
#endif

#include <boost/format.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <cstring>

#include "downloader/ContentRange.h"
#include "downloader/Downloader.h"
#include "downloader/DownloaderAsyncWriter.h"
#include "downloader/DownloaderLog.h"
#include "downloader/TransferState.h"

namespace {

// The longest socket wait, and the pause while libcurl has no socket yet.
constexpr long kWaitMilliseconds = 1000;
constexpr long kLongTimeoutMilliseconds = 2000;
constexpr int kNoSocketPauseMilliseconds = 100;

// libcurl's receive buffer per worker: one TLS record. 64 KiB cost 0.6 MiB
// of peak RSS over 12 workers and saved no measurable CPU per GiB.
constexpr long kReceiveBufferBytes = 16 * 1024;

// Tells stop() which multi handle to wake while this transfer runs;
// curlCleanUp() withdraws it before the handle goes.
class ActiveMultiRegistration {
public:
    ActiveMultiRegistration(boost::mutex& mutex, CURLM*& slot, CURLM* multi)
        : m_mutex(mutex), m_slot(slot) {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_slot = multi;
    }
    // A lock that fails leaves no safe way on: ending the program, as a
    // throwing destructor does, is the outcome wanted.
    // NOLINTNEXTLINE(bugprone-exception-escape)
    ~ActiveMultiRegistration() {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_slot = nullptr;
    }
    ActiveMultiRegistration(const ActiveMultiRegistration&) = delete;
    ActiveMultiRegistration& operator=(const ActiveMultiRegistration&) = delete;

private:
    boost::mutex& m_mutex;
    CURLM*& m_slot;
};

// Whether libcurl has a socket to wait on yet. libcurl says so only through
// the highest descriptor curl_multi_fdset reports; the sets it fills are not
// waited on, since curl_multi_poll watches the same sockets and can also be
// woken by stop().
bool libcurlHasSocket(CURLM* multi) {
    fd_set readSet;
    fd_set writeSet;
    fd_set exceptionSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptionSet);
    int maxfd = -1;
    const CURLMcode code = curl_multi_fdset(multi, &readSet, &writeSet, &exceptionSet, &maxfd);
    DownloaderLog::line(boost::format("errCode2=%d") % code);
    if (maxfd == -1) {
        DownloaderLog::line(boost::format("maxfd=%d") % maxfd);
        return false;
    }
    return true;
}

}  // namespace

std::size_t Downloader::writeCallback(char* data, std::size_t size, std::size_t count,
                                      void* userData) {
    auto& record = *static_cast<UserPData*>(userData);
    const std::size_t received = size * count;
    const DownloadInfo& info = record.owner->downloadInfo();
    const std::int32_t limit = info.partLength(record.partIndex);
    const std::int64_t last =
        static_cast<std::int64_t>(info.partOffset(record.partIndex)) + limit - 1;
    const std::int64_t first = last - record.expectedLength + 1;
    if (static_cast<std::int64_t>(record.downloadedLength) + static_cast<std::int64_t>(received) >
        limit) {
        return 0;
    }
    // Parsing the headers again for every block of the body cost more than
    // the copy; they are checked again only when a line was added.
    if (record.checkedHeaderCount == 0 || record.checkedHeaderCount != record.headers.size()) {
        if (!isPartialContent(record.statusHeader) || record.contentSize != record.expectedLength ||
            !contentRangeIs(record.headers, first, last, info.totalSize())) {
            return 0;
        }
        record.checkedHeaderCount = record.headers.size();
    }
    std::memcpy(record.buffer.get() + record.downloadedLength, data, received);
    record.downloadedLength += static_cast<std::int32_t>(received);
    return received;
}

DownloadError Downloader::downloadFromUrl(DownloaderAsyncWriter* writer,
                                          const std::string& address) {
    const std::int32_t workers = m_downloadInfo.workersCount();
    DownloaderLog::line(boost::format("workersCount=%d") % workers);
    DownloaderLog::line(boost::format("partsCount=%d") % m_downloadInfo.partsCount());

    TransferState transfer;
    for (std::int32_t w = 0; w < workers; ++w) {
        auto record = std::make_shared<UserPData>();
        record->owner = this;
        record->workerIndex = w;
        record->partIndex = -1;
        record->downloadedLength = 0;
        record->buffer.reset(new char[static_cast<std::size_t>(m_downloadInfo.partSize())]);
        transfer.userData.push_back(record);
    }
    transfer.ranges.resize(transfer.userData.size());
    if (shouldStop(writer)) {
        return DE_Stopped;
    }
    if (!setUpTransfer(transfer, address)) {
        curlCleanUp(transfer);
        return DE_MultiFailed;
    }
    ActiveMultiRegistration registration(m_activeMultiMutex, m_activeMulti,
                                         transfer.multiHandle.get());
    if (m_downloadInfo.isComplete()) {
        setDownloadedBytes(m_downloadInfo.totalSize());
    }

    while (!m_downloadInfo.isComplete()) {
        logIteration();
        if (shouldStop(writer)) {
            curlCleanUp(transfer);
            return DE_Stopped;
        }
        if (!startWorkers(transfer, writer)) {
            return endTransfer(transfer, writer, DE_MultiFailed);
        }
        transfer.handlesErrorMap.clear();
        int running = 0;
        if (curl_multi_perform(transfer.multiHandle.get(), &running) != CURLM_OK) {
            return endTransfer(transfer, writer, DE_MultiFailed);
        }
        if (const std::optional<DownloadError> early = waitAndPerform(transfer, writer)) {
            curlCleanUp(transfer);
            (void)verifyAndSaveDownloadedParts(transfer, writer);  // only logs: nothing finished
            downloaderStopped(transfer.userData, writer);
            return *early;
        }

        const DownloadError serverErrorCode = verifyAndSaveDownloadedParts(transfer, writer);
        if (serverErrorCode != DE_Success) {
            DownloaderLog::line("serverErrorCode != DE_Success");
            return endTransfer(transfer, writer, serverErrorCode);
        }
        if (transfer.curlOrVerificationErrorCount > MAX_VERIFICATION_ERROR_COUNT) {
            DownloaderLog::line("curlOrVerificationErrorCount > MAX_VERIFICATION_ERROR_COUNT");
            return endTransfer(transfer, writer, DE_TooManyErrors);
        }
        DownloaderLog::line("downloadInfo().save(tempFilePath());");
        const bool saved = m_downloadInfo.save(m_tempFilePath);
        DownloaderLog::line(boost::format("value=%d") % (saved ? 1 : 0));
        saveResumePoint(writer, false);
        transfer.firstIteration = false;
    }

    DownloaderLog::line("curlCleanUp(workerHandles, multiHandle)");
    curlCleanUp(transfer);
    return DE_Success;
}

bool Downloader::setUpTransfer(TransferState& transfer, const std::string& address) {
    transfer.multiHandle.reset(curl_multi_init());
    if (!transfer.multiHandle) {
        return false;
    }
    // Without this libcurl would multiplex every worker of an HTTP/2 server
    // onto one connection; each worker keeps a connection of its own.
    if (curl_multi_setopt(transfer.multiHandle.get(), CURLMOPT_PIPELINING, CURLPIPE_NOTHING) !=
        CURLM_OK) {
        return false;
    }
    for (const auto& record : transfer.userData) {
        RequestOptions options;
        options.url = address;
        options.userAgentLine = RequestOptions::UserAgentLine::Compact;
        options.proxy = m_proxy;
        options.followRedirects = true;
        options.limits = m_limits;
        options.receiveBufferBytes = kReceiveBufferBytes;
        options.stopFlag = &m_stopped;
        if (!m_ifRange.empty()) {
            options.extraHeaderLines.push_back("If-Range: " + m_ifRange);
        }
        options.headerRecord = record.get();
        options.bodyCallback = &Downloader::writeCallback;
        options.bodyData = record.get();
        EasyRequest handle;
        if (handle.build(options) != CURLE_OK) {
            return false;
        }
        transfer.handlesErrorMap[handle.get()] = CURLE_OK;
        transfer.workerHandles.push_back(std::move(handle));
    }
    transfer.firstIteration = true;
    return true;
}

void Downloader::logIteration() const {
    DownloaderLog::line("next iteration...");
    for (std::int32_t w = 0; w < m_downloadInfo.workersCount(); ++w) {
        DownloaderLog::line(boost::format("worker[%d].current_part=%d") % w %
                            m_downloadInfo.currentPart(w));
    }
}

bool Downloader::startWorkers(TransferState& transfer, DownloaderAsyncWriter* writer) {
    for (std::size_t w = 0; w < transfer.workerHandles.size(); ++w) {
        CURL* handle = transfer.workerHandles[w].get();
        if (transfer.handlesErrorMap.count(handle) == 0) {
            continue;  // still transferring
        }
        const auto worker = static_cast<std::int32_t>(w);
        UserPData& record = *transfer.userData[w];
        if (m_downloadInfo.isWorkerFinished(worker)) {
            record.downloadedLength = 0;
            continue;
        }
        const std::int32_t part = m_downloadInfo.currentPart(worker);
        DownloaderLog::line(boost::format("notVerifiedPartIndex=%d") % part);
        const std::int32_t offset = m_downloadInfo.partOffset(part);
        const std::int32_t length = m_downloadInfo.partLength(part);
        std::int32_t resume = 0;
        const std::int32_t saved = m_downloadInfo.savedLength(worker);
        // Read into an array of its own: the worker's buffer must keep the
        // full part size, as it goes round through the writer.
        boost::shared_array<char> stored;
        if (transfer.firstIteration && saved > 0 && saved < length &&
            writer->readPart(stored, offset, length) == length) {
            std::memcpy(record.buffer.get(), stored.get(), static_cast<std::size_t>(saved));
            resume = saved;
        }
        const std::int64_t start = static_cast<std::int64_t>(offset) + resume;
        const std::int64_t end = static_cast<std::int64_t>(offset) + length - 1;
        transfer.ranges[w] = (boost::format("%ld-%ld") % start % end).str();

        record.expectedLength = static_cast<std::int32_t>(end - start + 1);
        record.downloadedLength = resume;
        record.partIndex = part;
        record.startRequest();

        if (curl_easy_setopt(handle, CURLOPT_RANGE, transfer.ranges[w].c_str()) != CURLE_OK ||
            curl_multi_add_handle(transfer.multiHandle.get(), handle) != CURLM_OK) {
            return false;
        }
    }
    return true;
}

std::optional<DownloadError> Downloader::waitAndPerform(TransferState& transfer,
                                                        DownloaderAsyncWriter* writer) {
    CURLM* multi = transfer.multiHandle.get();
    // The perform that started the workers may already have finished a
    // transfer; its worker must not wait for the next socket event.
    publishProgress(transfer);
    if (collectFinished(transfer)) {
        return std::nullopt;
    }
    for (;;) {
        long timeout = -1;
        const CURLMcode timeoutCode = curl_multi_timeout(multi, &timeout);
        DownloaderLog::line(boost::format("errCode1=%d") % timeoutCode);
        long waitMilliseconds = kWaitMilliseconds;
        if (timeout > 0) {
            waitMilliseconds = timeout >= kLongTimeoutMilliseconds ? kWaitMilliseconds : timeout;
        }

        if (!libcurlHasSocket(multi)) {
            waitMilliseconds = kNoSocketPauseMilliseconds;
        }
        // Waits on libcurl's sockets like select() would, and also wakes at
        // once when stop() is called.
        const CURLMcode waitCode =
            curl_multi_poll(multi, nullptr, 0, static_cast<int>(waitMilliseconds), nullptr);
        if (waitCode != CURLM_OK) {
            DownloaderLog::line(boost::format("errCode3=%d") % waitCode);
            return std::nullopt;
        }

        int running = 0;
        const CURLMcode performCode = curl_multi_perform(multi, &running);
        if (performCode != CURLM_OK) {
            DownloaderLog::line(boost::format("curl_multi_perform erroCode=%d") % performCode);
            return DE_MultiFailed;
        }
        if (shouldStop(writer)) {
            DownloaderLog::line("m_stopped == true");
            return DE_Stopped;
        }
        publishProgress(transfer);
        if (collectFinished(transfer)) {
            return std::nullopt;
        }
    }
}

void Downloader::publishProgress(const TransferState& transfer) {
    std::int32_t held = m_downloadInfo.committedSize();
    for (const auto& record : transfer.userData) {
        held += record->downloadedLength;
    }
    setDownloadedBytes(held);
}

bool Downloader::collectFinished(TransferState& transfer) {
    bool finished = false;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(transfer.multiHandle.get(), &queued)) {
        if (message->msg == CURLMSG_DONE) {
            transfer.handlesErrorMap[message->easy_handle] = message->data.result;
            finished = true;
        }
    }
    return finished;
}

DownloadError Downloader::endTransfer(TransferState& transfer, DownloaderAsyncWriter* writer,
                                      DownloadError result) {
    curlCleanUp(transfer);
    downloaderStopped(transfer.userData, writer);
    return result;
}

void Downloader::curlCleanUp(TransferState& transfer) {
    {
        boost::lock_guard<boost::mutex> lock(m_activeMultiMutex);
        m_activeMulti = nullptr;
    }
    for (EasyRequest& handle : transfer.workerHandles) {
        if (handle && transfer.multiHandle) {
            // Ignored: a handle that is not in the multi handle is refused,
            // which is what it should be.
            (void)curl_multi_remove_handle(transfer.multiHandle.get(), handle.get());
        }
        handle.reset();
    }
    transfer.multiHandle.reset();
}
