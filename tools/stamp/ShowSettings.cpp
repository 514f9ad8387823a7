#include "tools/stamp/ShowSettings.h"

#include <cstdio>

#include "app/PayloadInfo.h"
#include "app/SettingValue.h"
#include "app/StampedBlock.h"
#include "text/TextConversion.h"
#include "tools/stamp/PayloadBlock.h"
#include "tools/stamp/StampFile.h"
#include "verify/StampSignature.h"

namespace {

bool needsQuoting(const std::string& value) {
    if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) return true;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\' || byte < 0x20 || byte == 0x7f) return true;
    }
    return false;
}

// A value that could pass for several arguments, or hide characters, is
// shown quoted and escaped, so that what is read is what the stub gets.
std::string visibleValue(const std::string& value) {
    if (!needsQuoting(value)) return value;
    std::string shown = "\"";
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            shown.append(1, '\\').append(1, c);
        } else if (c == '\t') {
            shown.append("\\t");
        } else if (c == '\n') {
            shown.append("\\n");
        } else if (c == '\r') {
            shown.append("\\r");
        } else if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown.append(escaped);
        } else {
            shown.push_back(c);
        }
    }
    return shown + "\"";
}

std::string signatureLine(const StampedBlock& block, const std::string& stampKey) {
    const bool signedBlock = block.signature || !block.signatureItemProblem.empty();
    std::string line = "not signed";
    if (block.signature) {
        const StampSignatureCheck check =
            checkStampSignature(block.signedBytes, *block.signature, stampKey);
        line = check.keyId.empty()
                   ? "signed, but " + check.problem
                   : "signed by key " + check.keyId +
                         " (trusted comment: " + visibleValue(check.trustedComment) + ")";
    } else if (signedBlock) {
        line = "signed, but " + block.signatureItemProblem;
    }
    if (stampKey.empty()) {
        return signedBlock ? line + "; give --stamp-key to check the signature\n" : std::string();
    }
    const std::string refusal = stampRefusal(block, stampSignatureProblem(stampKey));
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
    const std::string signature = signatureLine(block, stampKey);
    if (block.settings.empty()) {
        return path +
               (findStampedBlock(*window) ? " carries an empty settings block\n"
                                          : " carries no settings block\n") +
               signature;
    }
    std::string text;
    for (const auto& [key, value] : block.settings) {
        text.append(wideToUtf8(utf8ToWide(key)));
        if (const auto problem = storedValueProblem(value)) {
            text.append(" is dropped by the stub: ").append(*problem).append("\n");
            continue;
        }
        text.append("=").append(visibleValue(wideToUtf8(decodeSettingValue(value)))).append("\n");
    }
    return text + signature;
}
