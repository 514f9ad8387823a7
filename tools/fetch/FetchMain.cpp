// websetup-fetch [--record FILE] [--digest ALG:VALUE] [--publisher-key KEY]
//                OUT URL [URL ...]
//
// Downloads one file with the stub's downloader and settings (parts of
// 524288 bytes, 12 workers): the size comes from a header request to the
// first URL, and the URLs are the base addresses tried in order. The file is
// then compared with the digest given, or else with every one the size
// request's answer announced, and with the key given checked against the
// signature published beside it, as the stub does.
#include <curl/curl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "downloader/Downloader.h"
#include "downloader/ResumeState.h"
#include "platform/DurableFiles.h"
#include "platform/PrivateFiles.h"
#include "platform/ReadOnlyFile.h"
#include "text/TextConversion.h"
#include "tools/fetch/FetchExitStatus.h"
#include "tools/fetch/FetchProgress.h"
#include "tools/fetch/FetchSignature.h"
#include "tools/fetch/FetchSize.h"
#include "verify/AnnouncedDigest.h"
#include "verify/FileDigest.h"
#include "verify/MinisignSignature.h"
#include "websetup/BuildConfig.h"

namespace {

// The setup worker polls the download at the same pace.
constexpr std::chrono::milliseconds kPollInterval(30);

constexpr const char* kUsage =
    "usage: websetup-fetch [--record FILE] [--digest ALG:VALUE] [--publisher-key KEY]\n"
    "                      OUT URL [URL ...]\n"
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
    "  --publisher-key KEY  the minisign public key the file must be signed with,\n"
    "                 as a build that pins it checks: the signature is fetched from\n"
    "                 the file's final address with .minisig appended, before the\n"
    "                 download, and checked on the complete file. KEY may be a\n"
    "                 comma-separated list, as a build pinning several keys\n"
    "                 takes a signature by any of them\n"
    "\n"
    "Exit status: 0 when the file is complete and closed (and verified);\n"
    "otherwise the downloader's error code (1 stopped, 2 multi interface\n"
    "failed, 13 too many failed transfers, 15 not found, 16 gone, 17\n"
    "unavailable, 18 range ignored), 20 when the size request's answer gives\n"
    "no usable size, 21 when the download ended without a complete file (for\n"
    "example a full disk or a file that could not be created), 22 when the\n"
    "complete file does not have the digest (it is removed with its resume\n"
    "state, so that the next run starts afresh), 23 when the size request\n"
    "could not connect (name resolution, connection, TLS, time-out), 24 when\n"
    "the server refused it (an HTTP status other than a success), 25 when the\n"
    "signature is missing or unreadable (nothing is downloaded) or does not\n"
    "sign the file with the key given (the file stays in OUT, its resume state\n"
    "is forgotten), 64 for a usage error, 75 when another websetup-fetch is\n"
    "using the record. Each failure prints one line that names the address\n"
    "and the cause.\n";

struct Arguments {
    std::string out;
    std::string record;
    std::optional<AnnouncedDigest> digest;
    // Empty: the signature is not checked.
    std::string publisherKey;
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
        } else if (std::strcmp(argv[next], "--publisher-key") == 0) {
            arguments.publisherKey = argv[next + 1];
            if (!parseMinisignPublicKeys(arguments.publisherKey)) return std::nullopt;
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
    ProgressLine progress(stderr, ::isatty(STDERR_FILENO) == 1, size, ProgressLine::Clock::now());
    downloader.beginDownload();
    while (downloader.isRunning()) {
        progress.show(downloader.downloadedBytes(), ProgressLine::Clock::now());
        std::this_thread::sleep_for(kPollInterval);
    }
    progress.finish(downloader.downloadedBytes(), ProgressLine::Clock::now());

    if (downloader.isFinished()) {
        return DE_Success;
    }
    const std::optional<DownloadError> error = downloader.lastError();
    // A full disk keeps its documented status; its cause is on stderr already.
    if (downloader.writeFailed() || !error || *error == DE_Success || *error == DE_DiskFull) {
        std::fprintf(stderr, "websetup-fetch: the download ended without a complete file\n");
        return fetchexit::kIncomplete;
    }
    std::fprintf(stderr, "websetup-fetch: the download failed with error %d\n", *error);
    return *error;
}

// 0 when the file has the digest, fetchexit::kDigestMismatch when not.
int checkDigest(const std::string& path, const AnnouncedDigest& expected) {
    std::string error;
    const std::unique_ptr<platform::ReadOnlyFile> file = platform::ReadOnlyFile::open(path, error);
    const std::optional<std::vector<unsigned char>> actual =
        file ? fileDigest(*file, expected.algorithm, nullptr, error) : std::nullopt;
    if (!actual) {
        std::fprintf(stderr, "websetup-fetch: %s\n", error.c_str());
        return fetchexit::kIncomplete;
    }
    const char* name = digestAlgorithmName(expected.algorithm);
    if (*actual != expected.value) {
        std::fprintf(stderr, "websetup-fetch: %s digest mismatch: the file has %s, expected %s\n",
                     name, toHex(*actual).c_str(), toHex(expected.value).c_str());
        return fetchexit::kDigestMismatch;
    }
    std::fprintf(stderr, "websetup-fetch: %s digest verified: %s\n", name, toHex(*actual).c_str());
    return 0;
}

// A file whose signature is refused stays for inspection, but its resume
// state goes: the next run fetches the file afresh instead of resuming into
// the same refusal.
void forgetResumeState(const std::wstring& statePath) {
    const std::string error = platform::removeFileDurably(wideToUtf8(statePath));
    if (!error.empty()) std::fprintf(stderr, "websetup-fetch: %s\n", error.c_str());
}

// Downloads OUT and checks it while holding the record's lock, so that a
// second copy never starts afresh under a running one; a file that fails
// its digest is removed with its resume state. `signature` is set when a key
// was given.
int fetchAndCheck(const Arguments& arguments, const SizeAnswer& answer,
                  const std::optional<PublishedSignature>& signature) {
    std::unique_ptr<platform::FileLock> lock;
    try {
        lock = platform::FileLock::tryLock(arguments.record);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "websetup-fetch: %s\n", error.what());
        return fetchexit::kIncomplete;
    }
    if (!lock) {
        std::fprintf(stderr,
                     "websetup-fetch: another websetup-fetch is using the record %s; try again "
                     "once it has ended\n",
                     arguments.record.c_str());
        return fetchexit::kRecordBusy;
    }
    const std::wstring statePath = resumeStatePath(utf8ToWide(arguments.record));
    int status = download(arguments, answer.size, resumeValidator(answer.headers), statePath);
    if (status != DE_Success) return status;
    const DigestAnnouncement announced = announcedDigest(answer.headers);
    for (const std::string& note : announced.ignored) {
        std::fprintf(stderr, "websetup-fetch: digest not used: %s\n", note.c_str());
    }
    const std::vector<AnnouncedDigest> digests =
        arguments.digest ? std::vector<AnnouncedDigest>{*arguments.digest} : announced.digests;
    for (auto digest = digests.begin(); digest != digests.end() && status == 0; ++digest) {
        status = checkDigest(arguments.out, *digest);
    }
    if (status == fetchexit::kDigestMismatch) {
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
    if (status == 0 && signature) {
        status =
            checkFileSignature(arguments.out, answer.finalUrl, arguments.publisherKey, *signature);
        if (status == fetchexit::kUnsigned) forgetResumeState(statePath);
    }
    return status;
}

// The run once libcurl has started: the size, the signature when a key is
// given, then the download and the checks of the complete file.
int fetchFile(const Arguments& arguments) {
    const SizeAnswer answer = requestSize(arguments.urls.front());
    if (answer.failure != 0) return answer.failure;
    // Before the download, so that a missing signature costs none of its
    // bytes.
    std::optional<PublishedSignature> signature;
    if (!arguments.publisherKey.empty()) {
        signature = fetchFileSignature(answer.finalUrl);
        if (!signature) return fetchexit::kUnsigned;
    }
    return fetchAndCheck(arguments, answer, signature);
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
        return fetchexit::kUsage;
    }
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
        std::fprintf(stderr, "websetup-fetch: libcurl cannot start\n");
        return fetchexit::kNoSize;
    }
    const int status = fetchFile(*arguments);
    curl_global_cleanup();
    return status;
}
