#include "setup/LaunchGate.h"

#include <map>

#include "downloader/DownloaderLog.h"
#include "downloader/ResumeState.h"
#include "platform/NativePath.h"
#include "setup/ErrorClass.h"
#include "setup/UiText.h"
#include "text/TextConversion.h"
#include "verify/FileDigest.h"
#include "verify/SignatureAddress.h"

namespace {

bool stopped(const LaunchGateInput& input) { return input.stopFlag != nullptr && *input.stopFlag; }

LaunchGateResult refuse(const LaunchGateInput& input,
                        std::unique_ptr<platform::ReadOnlyFile> installer, SetupFailure failure) {
    DownloaderLog::failure(failure.cause.line);
    installer.reset();
    const std::string error =
        discardRefusedDownload(utf8ToWide(input.installerPath), input.resumeStatePath);
    if (!error.empty()) DownloaderLog::failure(error);
    return {nullptr, std::move(failure)};
}

// Empty when the file has every announced digest (or none was announced);
// otherwise the cause. Nothing at all when stopped.
std::optional<std::string> digestMismatch(const LaunchGateInput& input,
                                          const platform::ReadOnlyFile& installer) {
    for (const std::string& note : input.source.digest.ignored) {
        DownloaderLog::line("digest not used: " + note);
    }
    // One pass over the file per algorithm, however many values name it.
    std::map<DigestAlgorithm, std::vector<unsigned char>> actual;
    for (const AnnouncedDigest& announced : input.source.digest.digests) {
        auto computed = actual.find(announced.algorithm);
        if (computed == actual.end()) {
            std::string error;
            std::optional<std::vector<unsigned char>> digest =
                fileDigest(installer, announced.algorithm, input.stopFlag, error);
            if (!digest) {
                if (stopped(input)) return std::nullopt;
                return error;
            }
            computed = actual.emplace(announced.algorithm, std::move(*digest)).first;
        }
        if (computed->second != announced.value) {
            return "its " + std::string(digestAlgorithmName(announced.algorithm)) + " digest is " +
                   toHex(computed->second) + ", the server announced " + toHex(announced.value);
        }
    }
    for (const auto& [algorithm, digest] : actual) {
        DownloaderLog::step("installer verified: its " +
                            std::string(digestAlgorithmName(algorithm)) +
                            " digest is the announced " + toHex(digest));
    }
    return std::string();
}

}  // namespace

InstallerSource InstallerSource::of(const std::string& requestUrl,
                                    const std::vector<ResponseHeader>& headers) {
    return {finalAddress(requestUrl, headers).value_or(requestUrl), announcedDigest(headers),
            resumeValidator(headers)};
}

GateSignature fetchGateSignature(const InstallerSource& source, const ProxySettings& proxy,
                                 const std::string& pinnedPublisher,
                                 const std::atomic<bool>& stopFlag) {
    GateSignature result;
    if (pinnedPublisher.empty()) return result;
    result.signature = fetchPublishedSignature({source.url, proxy}, stopFlag);
    if (!result.signature.available && !result.signature.stopped) {
        result.failure = {unverifiedInstallerText(),
                          publisherRefusal(source.url, result.signature.detail)};
        DownloaderLog::failure(result.failure->cause.line);
    }
    return result;
}

LaunchGateResult passLaunchGate(const LaunchGateInput& input) {
    std::string error;
    std::unique_ptr<platform::ReadOnlyFile> installer =
        platform::ReadOnlyFile::open(input.installerPath, error);
    if (!installer) {
        return refuse(
            input, nullptr,
            {kInternalErrorText, localFailure("cannot open", input.installerPath, error)});
    }

    const std::optional<std::string> mismatch = digestMismatch(input, *installer);
    if (!mismatch) return {};
    if (!mismatch->empty()) {
        return refuse(input, std::move(installer),
                      {errorText({ErrorClass::kDownloadError, ErrorClass::kDigestMismatch, {}}),
                       digestRefusal(input.installerPath, *mismatch)});
    }

    if (!input.pinnedPublisher.empty()) {
        const PublisherCheck check = checkPublisherSignature(*installer, input.pinnedPublisher,
                                                             input.signature, *input.stopFlag);
        if (check.stopped) return {};
        if (!check.verified) {
            return refuse(
                input, std::move(installer),
                {unverifiedInstallerText(), publisherRefusal(input.installerPath, check.detail)});
        }
        DownloaderLog::step("installer verified: " + check.detail);
    }
    return {std::move(installer), std::nullopt};
}
