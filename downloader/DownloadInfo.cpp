#include "downloader/DownloadInfo.h"

#include <algorithm>
#include <boost/locale/encoding_utf.hpp>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include "downloader/FilePath.h"
#include "platform/NativePath.h"

namespace {

// Writes the record's items one by one and stops at the first failure.
class RecordWriter {
public:
    explicit RecordWriter(std::ostream& out) : m_out(out) {}

    bool ok() const { return static_cast<bool>(m_out); }

    void int32(std::int32_t value) {
        const auto bits = static_cast<std::uint32_t>(value);
        const char bytes[4] = {
            static_cast<char>(bits & 0xFFu), static_cast<char>((bits >> 8) & 0xFFu),
            static_cast<char>((bits >> 16) & 0xFFu), static_cast<char>((bits >> 24) & 0xFFu)};
        put(bytes, 4);
    }

    void text(const std::string& value) {
        int32(static_cast<std::int32_t>(value.size()));
        put(value.data(), value.size());
    }

    void wideText(const std::wstring& value) {
        const std::u16string units = boost::locale::conv::utf_to_utf<char16_t>(value);
        int32(static_cast<std::int32_t>(units.size()));
        for (const char16_t unit : units) {
            const char bytes[2] = {static_cast<char>(unit & 0xFFu),
                                   static_cast<char>((unit >> 8) & 0xFFu)};
            put(bytes, 2);
        }
    }

private:
    void put(const char* data, std::size_t size) {
        if (ok() && size > 0) {
            m_out.write(data, static_cast<std::streamsize>(size));
        }
    }

    std::ostream& m_out;
};

// Reads the record's items in order; once one runs past the end, every
// later item reads as empty and ok() turns false.
class RecordReader {
public:
    explicit RecordReader(std::string_view bytes) : m_bytes(bytes) {}

    bool ok() const { return m_ok; }
    std::size_t remaining() const { return m_bytes.size() - m_next; }

    std::int32_t int32() {
        const std::string_view bytes = take(4);
        if (bytes.size() != 4) return 0;
        std::uint32_t bits = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
        }
        return static_cast<std::int32_t>(bits);
    }

    std::string text() {
        const std::int32_t length = int32();
        return std::string(take(length));
    }

    std::wstring wideText() {
        const std::int32_t length = int32();
        const std::string_view bytes = take(length < 0 || length > INT32_MAX / 2 ? -1 : 2 * length);
        std::u16string units;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                  static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        return boost::locale::conv::utf_to_utf<wchar_t>(units);
    }

private:
    std::string_view take(std::int64_t count) {
        if (!m_ok || count < 0 || static_cast<std::uint64_t>(count) > remaining()) {
            m_ok = false;
            return {};
        }
        const std::string_view bytes = m_bytes.substr(m_next, static_cast<std::size_t>(count));
        m_next += bytes.size();
        return bytes;
    }

    std::string_view m_bytes;
    std::size_t m_next = 0;
    bool m_ok = true;
};

}  // namespace

DownloadInfo::DownloadInfo() {
    for (auto& part : m_currentParts) {
        part.store(0);
    }
}

DownloadInfo::DownloadInfo(const DownloadInfo& other) { *this = other; }

DownloadInfo& DownloadInfo::operator=(const DownloadInfo& other) {
    if (this == &other) {
        return *this;
    }
    m_resourcePath = other.m_resourcePath;
    m_fileTag = other.m_fileTag;
    m_destFilePath = other.m_destFilePath;
    m_partSize = other.m_partSize;
    m_totalSize = other.m_totalSize;
    m_maxWorkersCount = other.m_maxWorkersCount;
    m_savedLengths = other.m_savedLengths;
    for (std::size_t i = 0; i < m_currentParts.size(); ++i) {
        m_currentParts[i].store(other.m_currentParts[i].load());
    }
    m_baseUrls = other.m_baseUrls;
    return *this;
}

void DownloadInfo::setResourcePath(const std::string& path) { m_resourcePath = path; }
std::string DownloadInfo::resourcePath() const { return m_resourcePath; }
void DownloadInfo::setFileTag(const std::string& tag) { m_fileTag = tag; }
std::string DownloadInfo::fileTag() const { return m_fileTag; }
void DownloadInfo::setDestFilePath(const std::wstring& path) { m_destFilePath = path; }
std::wstring DownloadInfo::destFilePath() const { return m_destFilePath; }
void DownloadInfo::setTotalSize(std::int32_t size) { m_totalSize = size; }
std::int32_t DownloadInfo::totalSize() const { return m_totalSize; }
void DownloadInfo::setDefaultPartSize() { m_partSize = kDefaultPartSize; }
std::int32_t DownloadInfo::partSize() const { return m_partSize; }

void DownloadInfo::setDefaultWorkersCount() {
    m_maxWorkersCount = kDefaultWorkersCount;
    resetParts();
}

std::int32_t DownloadInfo::maxWorkersCount() const { return m_maxWorkersCount; }
void DownloadInfo::setBaseUrls(const std::vector<std::string>& urls) { m_baseUrls = urls; }
const std::vector<std::string>& DownloadInfo::baseUrls() const { return m_baseUrls; }
std::vector<std::string>& DownloadInfo::baseUrls() { return m_baseUrls; }

std::int32_t DownloadInfo::currentPart(std::int32_t worker) const {
    return m_currentParts.at(static_cast<std::size_t>(worker)).load();
}

std::int32_t DownloadInfo::savedLength(std::int32_t worker) const {
    return m_savedLengths.at(static_cast<std::size_t>(worker));
}

void DownloadInfo::setSavedLength(std::int32_t worker, std::int32_t length) {
    m_savedLengths.at(static_cast<std::size_t>(worker)) = length;
}

void DownloadInfo::advanceWorker(std::int32_t worker) {
    m_currentParts.at(static_cast<std::size_t>(worker)).store(lastAssignedPart() + 1);
    setSavedLength(worker, 0);
}

std::int32_t DownloadInfo::resetParts() {
    const std::int32_t workers = workersCount();
    for (std::int32_t i = 0; i < workers; ++i) {
        m_currentParts[static_cast<std::size_t>(i)].store(i);
        m_savedLengths[static_cast<std::size_t>(i)] = 0;
    }
    return workers;
}

std::int32_t DownloadInfo::partsCount() const {
    // A part size that was never set cannot cut anything; dividing by it
    // would not give a number.
    if (m_partSize <= 0) {
        return 0;
    }
    return static_cast<std::int32_t>(
        std::ceil(static_cast<double>(m_totalSize) / static_cast<double>(m_partSize)));
}

std::int32_t DownloadInfo::workersCount() const {
    return std::min({partsCount(), m_maxWorkersCount, kWorkerSlots});
}

std::int32_t DownloadInfo::partOffset(std::int32_t part) const { return part * m_partSize; }

std::int32_t DownloadInfo::partLength(std::int32_t part) const {
    const std::int32_t remainder = m_partSize > 0 ? m_totalSize % m_partSize : 0;
    if (part == partsCount() - 1 && remainder != 0) {
        return remainder;
    }
    return m_partSize;
}

std::int32_t DownloadInfo::lastAssignedPart() const {
    std::int32_t last = currentPart(0);
    for (std::int32_t i = 1; i < workersCount(); ++i) {
        last = std::max(last, currentPart(i));
    }
    return last;
}

bool DownloadInfo::isWorkerFinished(std::int32_t worker) const {
    return currentPart(worker) >= partsCount();
}

bool DownloadInfo::isComplete() const {
    for (std::int32_t i = 0; i < workersCount(); ++i) {
        if (!isWorkerFinished(i)) {
            return false;
        }
    }
    return true;
}

bool DownloadInfo::hasProgress() const {
    return std::any_of(m_currentParts.begin(), m_currentParts.end(),
                       [](const std::atomic<std::int32_t>& part) { return part.load() != 0; });
}

std::int32_t DownloadInfo::committedSize() const {
    const std::int32_t parts = partsCount();
    // A worker done past the last of 2^31 - 1 parts holds the largest index.
    const std::int64_t nextUnassigned = static_cast<std::int64_t>(lastAssignedPart()) + 1;
    std::int32_t size = nextUnassigned < parts
                            ? m_partSize * static_cast<std::int32_t>(nextUnassigned)
                            : m_totalSize;
    for (std::int32_t i = 0; i < workersCount(); ++i) {
        const std::int32_t part = currentPart(i);
        if (part < parts) {
            size -= partLength(part);
        }
    }
    return size;
}

bool DownloadInfo::isValid() const {
    return !m_baseUrls.empty() && !m_destFilePath.empty() && m_totalSize > 0;
}

bool DownloadInfo::save(const std::wstring& path) const {
    if (!makeSafeToWrite(path)) return false;
    std::ofstream file(platform::nativePath(path).c_str(),
                       std::ios::binary | std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
        return false;
    }
    const std::string bytes = recordBytes();
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.flush();
    return static_cast<bool>(file);
}

std::string DownloadInfo::recordBytes() const {
    std::ostringstream out;
    RecordWriter record(out);
    record.text(m_resourcePath);
    record.text(m_fileTag);
    record.wideText(m_destFilePath);
    record.int32(m_partSize);
    record.int32(m_totalSize);
    record.int32(m_maxWorkersCount);
    const std::int32_t workers = workersCount();
    for (std::int32_t i = 0; i < workers; ++i) {
        record.int32(savedLength(i));
    }
    for (std::int32_t i = 0; i < workers; ++i) {
        record.int32(currentPart(i));
    }
    record.int32(static_cast<std::int32_t>(m_baseUrls.size()));
    for (const std::string& url : m_baseUrls) {
        record.text(url);
    }
    return out.str();
}

std::optional<DownloadInfo> DownloadInfo::fromRecordBytes(std::string_view bytes,
                                                          std::string& error) {
    RecordReader record(bytes);
    DownloadInfo info;
    info.m_resourcePath = record.text();
    info.m_fileTag = record.text();
    info.m_destFilePath = record.wideText();
    info.m_partSize = record.int32();
    info.m_totalSize = record.int32();
    info.m_maxWorkersCount = record.int32();
    if (!record.ok()) {
        error = "the record is cut short";
        return std::nullopt;
    }
    if (info.m_partSize <= 0 || info.m_totalSize <= 0 || info.m_maxWorkersCount <= 0 ||
        info.m_maxWorkersCount > kWorkerSlots) {
        error = "the record's sizes are out of range";
        return std::nullopt;
    }
    const std::int32_t workers = info.workersCount();
    for (std::int32_t i = 0; i < workers; ++i) {
        info.m_savedLengths[static_cast<std::size_t>(i)] = record.int32();
    }
    for (std::int32_t i = 0; i < workers; ++i) {
        info.m_currentParts[static_cast<std::size_t>(i)].store(record.int32());
    }
    const std::int32_t urls = record.int32();
    // Each address takes at least its length field: a count beyond that is
    // a lie, not a reason to reserve memory.
    if (!record.ok() || urls < 0 || static_cast<std::size_t>(urls) > record.remaining() / 4) {
        error = "the record's address list is out of range";
        return std::nullopt;
    }
    for (std::int32_t i = 0; i < urls; ++i) {
        info.m_baseUrls.push_back(record.text());
    }
    if (!record.ok() || record.remaining() != 0) {
        error = record.ok() ? "the record has bytes after its end" : "the record is cut short";
        return std::nullopt;
    }
    if (!info.isValid()) {
        error = "the record names no file or address";
        return std::nullopt;
    }
    // Workers past the last part count up from it, one each.
    const std::int32_t parts = info.partsCount();
    std::set<std::int32_t> held;
    for (std::int32_t i = 0; i < workers; ++i) {
        const std::int32_t part = info.currentPart(i);
        const std::int32_t saved = info.savedLength(i);
        // In 64 bits: parts of one byte in a file near 2^31 bytes take the
        // sum past what 32 bits hold.
        const bool inRange = part >= 0 && part < static_cast<std::int64_t>(parts) + workers &&
                             held.insert(part).second;
        const std::int32_t savedLimit = part < parts ? info.partLength(part) : 1;
        if (!inRange || saved < 0 || saved >= savedLimit) {
            error = "worker " + std::to_string(i) + " of the record holds part " +
                    std::to_string(part) + " with " + std::to_string(saved) + " bytes saved";
            return std::nullopt;
        }
    }
    return info;
}
