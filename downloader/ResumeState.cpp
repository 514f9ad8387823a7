#include "downloader/ResumeState.h"

#include <boost/algorithm/string/predicate.hpp>
#include <fstream>

#include "platform/DurableFiles.h"
#include "platform/NativePath.h"
#include "text/TextConversion.h"

namespace {

constexpr std::string_view kFirstLine = "websetup resume state 1\n";
constexpr std::string_view kValidatorKey = "validator ";
constexpr std::string_view kRecordKey = "record ";

// Visible ASCII and blanks only: the value goes into a request header line
// and into one line of the state.
bool isPrintable(const std::string& text) {
    for (const char c : text) {
        if (c < ' ' || c > '~') return false;
    }
    return !text.empty();
}

// An entity tag as a strong validator: a quoted string, not "W/"-prefixed,
// with no quote inside.
bool isStrongEntityTag(const std::string& tag) {
    return tag.size() >= 2 && tag.front() == '"' && tag.back() == '"' &&
           tag.find('"', 1) == tag.size() - 1 && isPrintable(tag);
}

std::optional<std::string> readLine(std::string_view& bytes, std::string_view key) {
    if (bytes.substr(0, key.size()) != key) return std::nullopt;
    const std::size_t end = bytes.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    std::string value(bytes.substr(key.size(), end - key.size()));
    bytes.remove_prefix(end + 1);
    return value;
}

// At most one byte more than a state may have, so that a larger file shows.
std::optional<std::string> readFile(const std::wstring& path) {
    std::ifstream file(platform::nativePath(path).c_str(), std::ios::binary);
    if (!file.is_open()) return std::nullopt;
    std::string bytes(kMaxResumeStateBytes + 1, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

}  // namespace

std::string resumeValidator(const std::vector<ResponseHeader>& headers) {
    std::string entityTag;
    std::string lastModified;
    for (const ResponseHeader& header : headers) {
        if (header.kind == HK_Status) {
            entityTag.clear();
            lastModified.clear();
        } else if (header.kind == HK_LastModified) {
            lastModified = header.value;
        } else if (header.kind == HK_Other) {
            const std::optional<HeaderField> field = splitHeaderField(header.value);
            if (field && boost::algorithm::iequals(field->name, "etag")) entityTag = field->value;
        }
    }
    if (isStrongEntityTag(entityTag)) return entityTag;
    return isPrintable(lastModified) ? lastModified : std::string();
}

std::wstring resumeStatePath(const std::wstring& recordPath) { return recordPath + L".resume"; }

std::string encodeResumeState(const ResumeState& state) {
    const std::string record = state.record.recordBytes();
    std::string bytes(kFirstLine);
    bytes.append(kValidatorKey).append(state.validator).append("\n");
    bytes.append(kRecordKey).append(std::to_string(record.size())).append("\n");
    return bytes + record;
}

std::optional<ResumeState> decodeResumeState(std::string_view bytes, std::string& error) {
    if (bytes.substr(0, kFirstLine.size()) != kFirstLine) {
        error = "not a resume state";
        return std::nullopt;
    }
    bytes.remove_prefix(kFirstLine.size());
    const std::optional<std::string> validator = readLine(bytes, kValidatorKey);
    const std::optional<std::string> length = readLine(bytes, kRecordKey);
    const std::optional<std::int64_t> recordSize =
        length ? parseContentLength(*length) : std::nullopt;
    if (!validator || !isPrintable(*validator) || !recordSize ||
        static_cast<std::uint64_t>(*recordSize) != bytes.size()) {
        error = "the resume state's header is damaged";
        return std::nullopt;
    }
    std::optional<DownloadInfo> record = DownloadInfo::fromRecordBytes(bytes, error);
    if (!record) return std::nullopt;
    return ResumeState{*validator, *record};
}

std::optional<DownloadInfo> resumableDownload(const DownloadInfo& fresh,
                                              const std::string& validator,
                                              const std::wstring& statePath, std::string& why) {
    if (validator.empty()) {
        why = "the server names no validator for the file";
        return std::nullopt;
    }
    const std::optional<std::string> bytes = readFile(statePath);
    if (!bytes) {
        why = "no resume state";
        return std::nullopt;
    }
    if (bytes->size() > kMaxResumeStateBytes) {
        why = "the resume state is too large";
        return std::nullopt;
    }
    const std::optional<ResumeState> state = decodeResumeState(*bytes, why);
    if (!state) return std::nullopt;
    const DownloadInfo& earlier = state->record;
    if (earlier.resourcePath() != fresh.resourcePath() || earlier.fileTag() != fresh.fileTag() ||
        earlier.destFilePath() != fresh.destFilePath() || earlier.baseUrls() != fresh.baseUrls()) {
        why = "the resume state is for another download";
        return std::nullopt;
    }
    if (earlier.totalSize() != fresh.totalSize() || earlier.partSize() != fresh.partSize() ||
        earlier.maxWorkersCount() != fresh.maxWorkersCount()) {
        why = "the file's size or cut has changed";
        return std::nullopt;
    }
    if (state->validator != validator) {
        why = "the server's file has changed (" + state->validator + ", now " + validator + ")";
        return std::nullopt;
    }
    const std::string destination = wideToUtf8(fresh.destFilePath());
    if (!platform::isOwnPlainFile(destination, fresh.totalSize())) {
        why = "the file " + destination + " is missing, not ours or not of the full size";
        return std::nullopt;
    }
    return earlier;
}

std::string discardRefusedDownload(const std::wstring& file, const std::wstring& statePath) {
    // The state first, as everywhere: no state may outlive the bytes it
    // describes.
    std::string causes =
        statePath.empty() ? std::string() : platform::removeFileDurably(wideToUtf8(statePath));
    const std::string fileCause = platform::removeFileDurably(wideToUtf8(file));
    if (!fileCause.empty()) causes += (causes.empty() ? "" : "; ") + fileCause;
    return causes;
}
