#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The state of one download: what to fetch, how it is cut into parts and how
// far each worker has got. A value type; copies are independent.
//
// Threads: only the download thread changes a running Downloader's record.
// isComplete() may be polled from any thread while it runs, so the per-worker
// part indexes are atomic; everything else is set before the download starts.
class DownloadInfo {
public:
    static constexpr std::int32_t kDefaultPartSize = 524288;
    static constexpr std::int32_t kDefaultWorkersCount = 12;
    // Per-worker slots kept (and the most workers a download can have).
    static constexpr std::int32_t kWorkerSlots = 30;

    DownloadInfo();
    DownloadInfo(const DownloadInfo& other);
    DownloadInfo& operator=(const DownloadInfo& other);

    void setResourcePath(const std::string& path);
    std::string resourcePath() const;
    void setFileTag(const std::string& tag);
    std::string fileTag() const;
    void setDestFilePath(const std::wstring& path);
    std::wstring destFilePath() const;
    void setTotalSize(std::int32_t size);
    std::int32_t totalSize() const;
    void setDefaultPartSize();
    std::int32_t partSize() const;
    // Sets the worker limit and resets the parts; call it after the sizes.
    void setDefaultWorkersCount();
    std::int32_t maxWorkersCount() const;
    void setBaseUrls(const std::vector<std::string>& urls);
    const std::vector<std::string>& baseUrls() const;
    std::vector<std::string>& baseUrls();

    std::int32_t currentPart(std::int32_t worker) const;
    std::int32_t savedLength(std::int32_t worker) const;
    void setSavedLength(std::int32_t worker, std::int32_t length);

    // Gives `worker` the part after the highest part held by any worker and
    // forgets its saved length.
    void advanceWorker(std::int32_t worker);
    // Worker i starts at part i with nothing saved; returns workersCount().
    std::int32_t resetParts();

    std::int32_t partsCount() const;
    std::int32_t workersCount() const;
    std::int32_t partOffset(std::int32_t part) const;
    std::int32_t partLength(std::int32_t part) const;
    std::int32_t lastAssignedPart() const;
    bool isWorkerFinished(std::int32_t worker) const;
    bool isComplete() const;
    bool hasProgress() const;
    // Bytes of the parts already verified and handed to the writer.
    std::int32_t committedSize() const;
    bool isValid() const;

    // Writes the binary download record (little-endian, no header); false when
    // the file cannot be created or a write fails, which may leave a
    // shortened file behind.
    bool save(const std::wstring& path) const;
    // The bytes save() writes.
    std::string recordBytes() const;
    // Reads back what recordBytes() wrote. Nothing, with `error` saying why,
    // unless every length lies within the bytes and nothing is left over,
    // the record isValid(), its sizes can cut the file into parts and each
    // worker's part and saved length lie in range: a record read back is a
    // state the download could have been in.
    static std::optional<DownloadInfo> fromRecordBytes(std::string_view bytes, std::string& error);

private:
    std::string m_resourcePath;
    std::string m_fileTag;
    std::wstring m_destFilePath;
    std::int32_t m_partSize = -1;
    std::int32_t m_totalSize = -1;
    std::int32_t m_maxWorkersCount = -1;
    std::array<std::int32_t, kWorkerSlots> m_savedLengths{};
    std::array<std::atomic<std::int32_t>, kWorkerSlots> m_currentParts;
    std::vector<std::string> m_baseUrls;
};
