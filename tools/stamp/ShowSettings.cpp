#include "tools/stamp/ShowSettings.h"

#include "app/PayloadInfo.h"
#include "app/SettingsDescription.h"
#include "app/StampedBlock.h"
#include "setup/LaunchPreview.h"
#include "tools/stamp/PayloadBlock.h"
#include "tools/stamp/StampFile.h"
#include "verify/StampSignature.h"
#include "websetup/BuildConfig.h"

namespace {

// Whether the block is signed and by whom; with stampKey, whether a stub
// built with it believes the block (refusal: why not).
std::string signatureLine(const StampedBlock& block, const std::string& stampKey,
                          const std::string& refusal) {
    const bool signedBlock = block.signature || !block.signatureItemProblem.empty();
    std::string line = "not signed";
    if (block.signature) {
        const StampSignatureCheck check =
            checkStampSignature(block.signedBytes, *block.signature, stampKey);
        line = check.keyId.empty()
                   ? "signed, but " + check.problem
                   : "signed by key " + check.keyId +
                         " (trusted comment: " + visibleText(check.trustedComment) + ")";
    } else if (signedBlock) {
        line = "signed, but " + block.signatureItemProblem;
    }
    if (stampKey.empty()) {
        return signedBlock ? line + "; give --stamp-key to check the signature\n" : std::string();
    }
    if (refusal.empty()) {
        return signedBlock ? line + "; the signature holds for the stamp key\n" : std::string();
    }
    return line + "; a stub built with this stamp key does not believe it (" + refusal +
           ") and runs as an unstamped copy\n";
}

}  // namespace

std::string describeSettings(const std::string& path, const std::string& stampKey) {
    // The stub's own reader turns every failure into an empty map; open the
    // file here first so that a missing or unreadable file says why.
    requireReadable(path);
    const auto window = readPayloadWindow(path);
    if (!window) throw StampIoError("cannot read '" + path + "'");
    const StampedBlock block = parseStampedBlock(*window);
    const std::string refusal =
        stampKey.empty() ? std::string() : stampRefusal(block, stampSignatureProblem(stampKey));
    const std::string settings = !block.settings.empty() ? settingLines(block.settings)
                                 : findStampedBlock(*window)
                                     ? path + " carries an empty settings block\n"
                                     : path + " carries no settings block\n";
    // Built for this tool's own product: the stub was built alike.
    return settings + signatureLine(block, stampKey, refusal) + "\n" +
           describeInstallerLaunch(buildconfig::kProductKey,
                                   refusal.empty() ? block.settings : PayloadInfo());
}
