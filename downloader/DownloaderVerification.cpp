#include <algorithm>
#include <boost/format.hpp>
#include <optional>
#include <string>

#include "downloader/ContentRange.h"
#include "downloader/Downloader.h"
#include "downloader/DownloaderAsyncWriter.h"
#include "downloader/DownloaderLog.h"
#include "downloader/TransferState.h"

namespace {

// The server answers that end the transfer on this address.
std::optional<DownloadError> serverRefusal(const std::string& status) {
    if (status == "200") {
        return DE_RangeIgnored;
    }
    if (status == "404") {
        return DE_NotFound;
    }
    if (status == "410") {
        return DE_Gone;
    }
    if (status == "503") {
        return DE_Unavailable;
    }
    return std::nullopt;
}

}  // namespace

DownloadError Downloader::verifyAndSaveDownloadedParts(TransferState& transfer,
                                                       DownloaderAsyncWriter* writer) {
    DownloaderLog::line("verifyAndSaveDownloadedParts...");
    DownloadError serverErrorCode = DE_Success;
    // Why a part with the right status came short, for the cause of a failed
    // download: the write callback refuses the body without saying why.
    const auto refusedPartCause = [this](const UserPData& record) -> std::string {
        if (record.malformedHeader) return "a header line of the answer could not be read";
        const std::int32_t part = record.partIndex;
        if (record.contentSize != record.expectedLength) {
            return "the answer has " + std::to_string(record.contentSize) +
                   " bytes where the part has " + std::to_string(record.expectedLength);
        }
        const std::int64_t last = static_cast<std::int64_t>(m_downloadInfo.partOffset(part)) +
                                  m_downloadInfo.partLength(part) - 1;
        if (!contentRangeIs(record.headers, last - record.expectedLength + 1, last,
                            m_downloadInfo.totalSize())) {
            return "its Content-Range is not the part's window of " +
                   std::to_string(m_downloadInfo.totalSize()) + " bytes";
        }
        return "the answer ended after " + std::to_string(record.downloadedLength) + " of " +
               std::to_string(m_downloadInfo.partLength(part)) + " bytes";
    };
    const std::int32_t workers = std::min(m_downloadInfo.workersCount(),
                                          static_cast<std::int32_t>(transfer.workerHandles.size()));
    for (std::int32_t i = 0; i < workers; ++i) {
        CURL* handle = transfer.workerHandles[static_cast<std::size_t>(i)].get();
        const auto finished = transfer.handlesErrorMap.find(handle);
        if (handle == nullptr || finished == transfer.handlesErrorMap.end()) {
            continue;  // still transferring
        }
        // Ignored: the handle is in the multi handle, since it just finished.
        (void)curl_multi_remove_handle(transfer.multiHandle.get(), handle);

        const CURLcode code = finished->second;
        UserPData& record = *transfer.userData[static_cast<std::size_t>(i)];
        const std::string window = "part " + std::to_string(record.partIndex) + " from " +
                                   transfer.ranges[static_cast<std::size_t>(i)];
        if (code != CURLE_OK && code != CURLE_WRITE_ERROR) {
            m_lastPartFailure = {code, window + ": " + curl_easy_strerror(code)};
            DownloaderLog::line(
                boost::format("Verification error! handlesErrorMap[workerHandles[%d]]=%d") % i %
                code);
            ++transfer.curlOrVerificationErrorCount;
            continue;
        }
        if (!isPartialContent(record.statusHeader)) {
            m_lastPartFailure = {CURLE_OK, window + ": answered with status " +
                                               record.statusHeader.value + " instead of 206"};
            DownloaderLog::line(boost::format("Verification error! statusHeader[%d]=%s") % i %
                                record.statusHeader.value);
            if (const auto refusal = serverRefusal(record.statusHeader.value)) {
                serverErrorCode = *refusal;
            } else {
                ++transfer.curlOrVerificationErrorCount;
            }
            continue;
        }
        const std::int32_t part = record.partIndex;
        if (record.downloadedLength != m_downloadInfo.partLength(part)) {
            DownloaderLog::line(boost::format("Verification error! downloadedLength[%d] = %d") % i %
                                record.downloadedLength);
            m_lastPartFailure = {CURLE_OK, window + ": " + refusedPartCause(record)};
            ++transfer.curlOrVerificationErrorCount;
            continue;
        }
        // The verified bytes go to the writer as they are; the worker goes on
        // in an array the writer no longer reads.
        record.buffer = writer->handOver(m_downloadInfo.partOffset(part),
                                         m_downloadInfo.partLength(part), std::move(record.buffer),
                                         static_cast<std::size_t>(m_downloadInfo.partSize()));
        m_downloadInfo.advanceWorker(i);
    }
    DownloaderLog::line(boost::format(" <-- verifyAndSaveDownloadedParts. serverErrorCode=%d") %
                        serverErrorCode);
    return serverErrorCode;
}

void Downloader::downloaderStopped(const UserDataList& userData, DownloaderAsyncWriter* writer) {
    DownloaderLog::line("downloaderStopped");
    for (std::size_t w = 0; w < userData.size(); ++w) {
        const UserPData& record = *userData[w];
        const auto worker = static_cast<std::int32_t>(w);
        const std::int32_t part = record.partIndex;
        if (part < 0) {
            continue;
        }
        DownloaderLog::line(
            boost::format("dump: %d thread, %d part, downloadedLength=%d, contentSize=%d") %
            worker % part % record.downloadedLength % record.contentSize);
        const std::int32_t length = m_downloadInfo.partLength(part);
        if (record.downloadedLength > 0 && record.downloadedLength < length) {
            DownloaderLog::line(boost::format("dump: %d thread -- saved") % worker);
            m_downloadInfo.setSavedLength(worker, record.downloadedLength);
            // Only the received bytes: the rest of the buffer holds nothing yet
            // and is fetched when the part is resumed.
            writer->write(m_downloadInfo.partOffset(part), record.downloadedLength, record.buffer);
        }
    }
    // Ignored: this is a last effort on the way out; the next save retries.
    (void)m_downloadInfo.save(m_tempFilePath);
}
