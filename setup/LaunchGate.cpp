#include "setup/LaunchGate.h"

#include <boost/filesystem/operations.hpp>

#include "downloader/DownloaderLog.h"
#include "downloader/ResumeState.h"
#include "platform/NativePath.h"
#include "setup/ErrorClass.h"
#include "setup/UiText.h"
#include "verify/FileDigest.h"
#include "verify/PublisherSignature.h"
#include "verify/SignatureAddress.h"

namespace {

bool stopped(const LaunchGateInput& input) { return input.stopFlag != nullptr && *input.stopFlag; }

LaunchGateResult refuse(const LaunchGateInput& input,
                        std::unique_ptr<platform::ReadOnlyFile> installer, std::wstring boxText,
                        const std::string& cause) {
    DownloaderLog::failure("the installer " + input.installerPath + " is not started: " + cause);
    installer.reset();
    boost::system::error_code error;
    boost::filesystem::remove(platform::nativePath(input.installerPath), error);
    if (error) {
        DownloaderLog::failure("cannot remove " + input.installerPath + ": " + error.message());
    }
    return {nullptr, std::move(boxText)};
}

// Empty when the file has the announced digest (or none was announced);
// otherwise the cause. Nothing at all when stopped.
std::optional<std::string> digestMismatch(const LaunchGateInput& input,
                                          const platform::ReadOnlyFile& installer) {
    for (const std::string& note : input.source.digest.ignored) {
        DownloaderLog::line("digest not used: " + note);
    }
    const std::optional<AnnouncedDigest>& announced = input.source.digest.digest;
    if (!announced) return std::string();
    std::string error;
    const std::optional<std::vector<unsigned char>> actual =
        fileDigest(installer, announced->algorithm, input.stopFlag, error);
    if (!actual) {
        if (stopped(input)) return std::nullopt;
        return error;
    }
    const std::string name = digestAlgorithmName(announced->algorithm);
    if (*actual != announced->value) {
        return "its " + name + " digest is " + toHex(*actual) + ", the server announced " +
               toHex(announced->value);
    }
    DownloaderLog::line("installer verified: its " + name + " digest is the announced " +
                        toHex(*actual));
    return std::string();
}

}  // namespace

InstallerSource InstallerSource::of(const std::string& requestUrl,
                                    const std::vector<ResponseHeader>& headers) {
    return {finalAddress(requestUrl, headers).value_or(requestUrl), announcedDigest(headers),
            resumeValidator(headers)};
}

LaunchGateResult passLaunchGate(const LaunchGateInput& input) {
    std::string error;
    std::unique_ptr<platform::ReadOnlyFile> installer =
        platform::ReadOnlyFile::open(input.installerPath, error);
    if (!installer) return refuse(input, nullptr, kInternalErrorText, error);

    const std::optional<std::string> mismatch = digestMismatch(input, *installer);
    if (!mismatch) return {};
    if (!mismatch->empty()) {
        return refuse(input, std::move(installer),
                      errorText({ErrorClass::kDownloadError, ErrorClass::kDigestMismatch}),
                      *mismatch);
    }

    if (!input.pinnedPublisher.empty()) {
        const PublisherCheck check = checkPublisherSignature(
            *installer, input.pinnedPublisher, {input.source.url, input.proxy}, *input.stopFlag);
        if (check.stopped) return {};
        if (!check.verified) {
            return refuse(input, std::move(installer), unverifiedInstallerText(), check.detail);
        }
        DownloaderLog::line("installer verified: " + check.detail);
    }
    return {std::move(installer), std::nullopt};
}
