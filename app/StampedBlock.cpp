#include "app/StampedBlock.h"

#include "app/SettingValue.h"
#include "text/TextConversion.h"

namespace {

constexpr char kSignaturePartSeparator = ':';

// The minisign signature file for the three parts of a signature item; its
// untrusted comment is not carried by the block.
std::optional<std::string> signatureFileText(std::string_view value) {
    const std::size_t first = value.find(kSignaturePartSeparator);
    const std::size_t last = value.rfind(kSignaturePartSeparator);
    if (first == std::string_view::npos || first == last) return std::nullopt;
    const std::string comment =
        wideToUtf8(decodeSettingValue(value.substr(first + 1, last - first - 1)));
    return "untrusted comment: settings block\n" + std::string(value.substr(0, first)) +
           "\ntrusted comment: " + comment + "\n" + std::string(value.substr(last + 1)) + "\n";
}

}  // namespace

StampedBlock parseStampedBlock(std::string_view window) {
    StampedBlock block;
    const std::optional<std::size_t> marker = findPayloadMarker(window);
    bool signatureSeen = false;
    forEachPayloadItem(window, [&](std::string_view key, std::string_view value,
                                   std::size_t itemBegin) {
        if (key == kStampSignatureKey) {
            // The last signature item covers everything before it, earlier
            // signature items included.
            signatureSeen = true;
            block.signedBytes = std::string(window.substr(*marker, itemBegin - *marker));
            block.signature = signatureFileText(value);
            block.signatureItemProblem =
                block.signature ? ""
                                : "the settings block's signature item is not a minisign signature";
            block.settingAfterSignature = false;
            return;
        }
        block.settingAfterSignature = signatureSeen;
        block.settings.insert_or_assign(std::string(key), std::string(value));
    });
    return block;
}

std::string stampRefusal(
    const StampedBlock& block,
    const std::function<std::string(std::string_view signedBytes, const std::string& signature)>&
        signatureProblem) {
    if (!block.signature && block.signatureItemProblem.empty()) {
        return block.settings.empty() ? std::string() : "the settings block is not signed";
    }
    if (!block.signature) return block.signatureItemProblem;
    if (block.settingAfterSignature) return "a setting follows the settings block's signature";
    return signatureProblem(block.signedBytes, *block.signature);
}
