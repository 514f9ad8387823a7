// websetup-fetch [--record FILE] [--digest ALG:VALUE] OUT URL [URL ...]
//
// Downloads one file with the stub's downloader and settings (parts of
// 524288 bytes, 12 workers): the size comes from a header request to the
// first URL, and the URLs are the base addresses tried in order. The file is
// then compared with the digest given, or else with every one the size
// request's answer announced, as the stub does.
#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "downloader/Downloader.h"
#include "downloader/ResumeState.h"
#include "net/SingleRequest.h"
#include "platform/PrivateFiles.h"
#include "platform/ReadOnlyFile.h"
#include "text/TextConversion.h"
#include "verify/AnnouncedDigest.h"
#include "verify/FileDigest.h"
#include "websetup/BuildConfig.h"

namespace {

// Exit codes of our own; a DownloadError is its own exit code (0 to 18), so
// usage errors take 64 (sysexits' EX_USAGE), as in websetup-stamp.
constexpr int kExitSizeUnknown = 20;
constexpr int kExitIncomplete = 21;
constexpr int kExitDigestMismatch = 22;
constexpr int kExitUsage = 64;
// sysexits' EX_TEMPFAIL: another copy holds the record; try again later.
constexpr int kExitRecordBusy = 75;

// The setup worker polls the download at the same pace.
constexpr std::chrono::milliseconds kPollInterval(30);

constexpr const char* kUsage =
    "usage: websetup-fetch [--record FILE] [--digest ALG:VALUE] OUT URL [URL ...]\n"
    "       websetup-fetch --help | --version\n"
    "\n"
    "Downloads the file at the URLs into OUT over up to 12 parallel ranged\n"
    "connections, the way the installer stub does. The size is asked of the\n"
    "first URL; the URLs are tried in order when one is unavailable or fails\n"
    "too often. Progress goes to standard error.\n"
    "\n"
    "  --record FILE  where the binary download record is written as the\n"
    "                 download goes (default: OUT.record). Beside it, FILE.resume\n"
    "                 lets a later run with the same FILE, OUT and URLs continue\n"
    "                 an interrupted download, if the server's file is unchanged.\n"
    "                 One websetup-fetch at a time uses a record\n"
    "  --digest ALG:VALUE  the digest the file must have: ALG sha-256 or sha-512,\n"
    "                 VALUE in hexadecimal or base64. Without it, the digests the\n"
    "                 size request's answer announces (Repr-Digest, Digest), if any\n"
    "\n"
    "Exit status: 0 when the file is complete and closed; otherwise the\n"
    "downloader's error code (1 stopped, 2 multi interface failed, 13 too\n"
    "many failed transfers, 15 not found, 16 gone, 17 unavailable, 18 range\n"
    "ignored), 20 when the size request fails or gives no size, 21 when the\n"
    "download ended without a complete file (for example a full disk or a\n"
    "file that could not be created), 22 when the complete file does not have\n"
    "the digest (it is removed with its resume state, so that the next run\n"
    "starts afresh), 64 for a usage error, 75 when another websetup-fetch is\n"
    "using the record.\n";

struct Arguments {
    std::string out;
    std::string record;
    std::optional<AnnouncedDigest> digest;
    std::vector<std::string> urls;
};

std::optional<Arguments> parseArguments(int argc, char** argv) {
    Arguments arguments;
    int next = 1;
    while (next + 1 < argc && std::strncmp(argv[next], "--", 2) == 0) {
        if (std::strcmp(argv[next], "--record") == 0) {
            arguments.record = argv[next + 1];
        } else if (std::strcmp(argv[next], "--digest") == 0) {
            arguments.digest = parseDigestArgument(argv[next + 1]);
            if (!arguments.digest) return std::nullopt;
        } else {
            return std::nullopt;
        }
        next += 2;
    }
    if (argc - next < 2) {
        return std::nullopt;
    }
    arguments.out = argv[next++];
    for (; next < argc; ++next) {
        arguments.urls.emplace_back(argv[next]);
    }
    if (arguments.record.empty()) {
        arguments.record = arguments.out + ".record";
    }
    return arguments;
}

// The installer's size: the Content-Length of the final answer, which must
// be a success. `headers` receives the answer.
std::optional<std::int32_t> fetchSize(const std::string& url,
                                      std::vector<ResponseHeader>& headers) {
    std::string errorText;
    const std::int32_t result = fetchHeaders(url, {}, ProxySettings(), headers, errorText);
    if (result != CURLE_OK) {
        std::fprintf(stderr, "websetup-fetch: size request failed (%d): %s\n", result,
                     errorText.c_str());
        return std::nullopt;
    }
    const int status = finalStatus(headers);
    if (status < 200 || status > 299) {
        std::fprintf(stderr, "websetup-fetch: the size request was answered with %d\n", status);
        return std::nullopt;
    }
    const std::optional<std::string> length = finalContentLength(headers);
    const std::optional<std::int64_t> size = length ? parseContentLength(*length) : std::nullopt;
    if (!size || *size <= 0 || *size > std::numeric_limits<std::int32_t>::max()) {
        std::fprintf(stderr, "websetup-fetch: the answer gives no usable size\n");
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*size);
}

int download(const Arguments& arguments, std::int32_t size, const std::string& validator,
             const std::wstring& statePath) {
    DownloadInfo info;
    info.setResourcePath("");
    info.setTotalSize(size);
    info.setDefaultPartSize();
    info.setDefaultWorkersCount();
    info.setBaseUrls(arguments.urls);
    info.setDestFilePath(utf8ToWide(arguments.out));

    std::string why;
    if (std::optional<DownloadInfo> earlier = resumableDownload(info, validator, statePath, why)) {
        std::fprintf(stderr, "websetup-fetch: resuming with %d of %d bytes done\n",
                     earlier->committedSize(), size);
        info = *earlier;
    } else {
        std::fprintf(stderr, "websetup-fetch: starting afresh: %s\n", why.c_str());
    }

    Downloader downloader;
    downloader.setDownloadInfo(info);
    downloader.setTempFilePath(utf8ToWide(arguments.record));
    downloader.setResumeState(statePath, validator);
    downloader.beginDownload();
    std::int32_t shown = -1;
    while (downloader.isRunning()) {
        const std::int32_t bytes = downloader.downloadedBytes();
        if (bytes != shown) {
            shown = bytes;
            std::fprintf(stderr, "\r%d / %d bytes (%d%%)", bytes, size,
                         static_cast<int>(static_cast<std::int64_t>(bytes) * 100 / size));
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    std::fprintf(stderr, "\r%d / %d bytes\n", downloader.downloadedBytes(), size);

    if (downloader.isFinished()) {
        return DE_Success;
    }
    const std::optional<DownloadError> error = downloader.lastError();
    // A full disk keeps its documented status; its cause is on stderr already.
    if (downloader.writeFailed() || !error || *error == DE_Success || *error == DE_DiskFull) {
        std::fprintf(stderr, "websetup-fetch: the download ended without a complete file\n");
        return kExitIncomplete;
    }
    std::fprintf(stderr, "websetup-fetch: the download failed with error %d\n", *error);
    return *error;
}

// 0 when the file has the digest, kExitDigestMismatch when not.
int checkDigest(const std::string& path, const AnnouncedDigest& expected) {
    std::string error;
    const std::unique_ptr<platform::ReadOnlyFile> file = platform::ReadOnlyFile::open(path, error);
    const std::optional<std::vector<unsigned char>> actual =
        file ? fileDigest(*file, expected.algorithm, nullptr, error) : std::nullopt;
    if (!actual) {
        std::fprintf(stderr, "websetup-fetch: %s\n", error.c_str());
        return kExitIncomplete;
    }
    const char* name = digestAlgorithmName(expected.algorithm);
    if (*actual != expected.value) {
        std::fprintf(stderr, "websetup-fetch: %s digest mismatch: the file has %s, expected %s\n",
                     name, toHex(*actual).c_str(), toHex(expected.value).c_str());
        return kExitDigestMismatch;
    }
    std::fprintf(stderr, "websetup-fetch: %s digest verified: %s\n", name, toHex(*actual).c_str());
    return 0;
}

// Downloads OUT and checks it while holding the record's lock, so that a
// second copy never starts afresh under a running one; a file that fails
// its digest is removed with its resume state.
int fetchAndCheck(const Arguments& arguments, std::int32_t size,
                  const std::vector<ResponseHeader>& headers) {
    std::unique_ptr<platform::FileLock> lock;
    try {
        lock = platform::FileLock::tryLock(arguments.record);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "websetup-fetch: %s\n", error.what());
        return kExitIncomplete;
    }
    if (!lock) {
        std::fprintf(stderr,
                     "websetup-fetch: another websetup-fetch is using the record %s; try again "
                     "once it has ended\n",
                     arguments.record.c_str());
        return kExitRecordBusy;
    }
    const std::wstring statePath = resumeStatePath(utf8ToWide(arguments.record));
    int status = download(arguments, size, resumeValidator(headers), statePath);
    if (status != DE_Success) return status;
    const DigestAnnouncement announced = announcedDigest(headers);
    for (const std::string& note : announced.ignored) {
        std::fprintf(stderr, "websetup-fetch: digest not used: %s\n", note.c_str());
    }
    const std::vector<AnnouncedDigest> digests =
        arguments.digest ? std::vector<AnnouncedDigest>{*arguments.digest} : announced.digests;
    for (auto digest = digests.begin(); digest != digests.end() && status == 0; ++digest) {
        status = checkDigest(arguments.out, *digest);
    }
    if (status == kExitDigestMismatch) {
        const std::string error = discardRefusedDownload(utf8ToWide(arguments.out), statePath);
        if (error.empty()) {
            std::fprintf(stderr,
                         "websetup-fetch: removed %s and its resume state: the next run starts "
                         "afresh\n",
                         arguments.out.c_str());
        } else {
            std::fprintf(stderr, "websetup-fetch: %s\n", error.c_str());
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("websetup-fetch %s\n", buildconfig::kVersion);
        return 0;
    }
    const std::optional<Arguments> arguments = parseArguments(argc, argv);
    if (!arguments) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
        std::fprintf(stderr, "websetup-fetch: libcurl cannot start\n");
        return kExitSizeUnknown;
    }
    std::vector<ResponseHeader> headers;
    const std::optional<std::int32_t> size = fetchSize(arguments->urls.front(), headers);
    const int status = size ? fetchAndCheck(*arguments, *size, headers) : kExitSizeUnknown;
    curl_global_cleanup();
    return status;
}
