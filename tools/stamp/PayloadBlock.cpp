#include "tools/stamp/PayloadBlock.h"

#include <algorithm>
#include <stdexcept>

#include "app/SettingValue.h"
#include "app/StampedBlock.h"
#include "text/TextConversion.h"

namespace {

constexpr std::string_view kBlockEnd("\0\0", 2);

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// One item as our writer produces it, or as a stub reads it in full.
bool isWellFormedItem(std::string_view item) {
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos || item.find('\0') != std::string_view::npos) return false;
    const std::string_view key = item.substr(0, equals);
    return key == kStampSignatureKey || !keyProblem(key);
}

std::string payloadItems(const StampSettings& settings) {
    std::string items(kPayloadMarker);
    for (const auto& [key, value] : settings) {
        items.append(key).append("=").append(encodeSettingValue(value)).append(";");
    }
    return items;
}

// The signature item for the text of a minisign signature file.
std::string signatureItem(std::string_view signatureFile) {
    std::string_view lines[4];
    for (std::string_view& line : lines) {
        const std::size_t end = signatureFile.find('\n');
        if (end == std::string_view::npos) throw std::runtime_error("the signer gave no signature");
        line = signatureFile.substr(0, end);
        signatureFile.remove_prefix(end + 1);
    }
    constexpr std::string_view kTrustedPrefix = "trusted comment: ";
    if (lines[2].substr(0, kTrustedPrefix.size()) != kTrustedPrefix) {
        throw std::runtime_error("the signer gave no trusted comment");
    }
    return std::string(kStampSignatureKey)
        .append("=")
        .append(lines[1])
        .append(":")
        .append(encodeSettingValue(lines[2].substr(kTrustedPrefix.size())))
        .append(":")
        .append(lines[3])
        .append(";");
}

}  // namespace

std::optional<std::string> keyProblem(std::string_view key) {
    if (key.empty()) return "the key is empty";
    if (key.find('=') != std::string_view::npos) return "the key contains \"=\"";
    if (key.find(';') != std::string_view::npos) return "the key contains \";\"";
    if (key.find('\0') != std::string_view::npos) return "the key contains a NUL byte";
    if (std::any_of(key.begin(), key.end(), isAsciiSpace)) return "the key contains white space";
    if (key.find(kPayloadMarker) != std::string_view::npos) {
        return "the key contains the block marker \"" + std::string(kPayloadMarker) + "\"";
    }
    if (key == kStampSignatureKey) return "the key is the settings block's signature item";
    return std::nullopt;
}

std::optional<std::string> valueProblem(std::string_view value) {
    if (wideToUtf8(utf8ToWide(value)) != value) return "the value is not valid UTF-8 text";
    if (const auto problem = storedValueProblem(encodeSettingValue(value))) {
        return "the stub would drop it: " + *problem;
    }
    return std::nullopt;
}

std::string encodeSettingValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (isUnreserved(byte) || byte >= 0x80) {
            encoded.push_back(c);
        } else {
            encoded.push_back('%');
            encoded.push_back(kHex[byte >> 4]);
            encoded.push_back(kHex[byte & 0x0F]);
        }
    }
    return encoded;
}

std::string makePayloadBlock(const StampSettings& settings) {
    return payloadItems(settings).append(kBlockEnd);
}

std::string makeSignedPayloadBlock(
    const StampSettings& settings,
    const std::function<std::string(std::string_view signedBytes)>& sign) {
    const std::string items = payloadItems(settings);
    return items + signatureItem(sign(items)) + std::string(kBlockEnd);
}

std::optional<std::size_t> findStampedBlock(std::string_view file) {
    if (file.size() < kPayloadMarker.size() + kBlockEnd.size() ||
        file.substr(file.size() - kBlockEnd.size()) != kBlockEnd) {
        return std::nullopt;
    }
    const auto marker = findPayloadMarker(file.substr(0, file.size() - kBlockEnd.size()));
    if (!marker) return std::nullopt;
    std::string_view items = file.substr(*marker + kPayloadMarker.size());
    items.remove_suffix(kBlockEnd.size());
    while (!items.empty()) {
        const std::size_t end = items.find(';');
        if (end == std::string_view::npos || !isWellFormedItem(items.substr(0, end))) {
            return std::nullopt;
        }
        items.remove_prefix(end + 1);
    }
    return marker;
}
