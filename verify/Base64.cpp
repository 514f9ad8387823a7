#include "verify/Base64.h"

#include <cstdint>

namespace {

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::optional<std::vector<unsigned char>> decodeBase64(std::string_view text) {
    if (text.size() % 4 == 0 && !text.empty()) {
        std::size_t padding = 0;
        while (padding < 2 && text[text.size() - 1 - padding] == '=') ++padding;
        text.remove_suffix(padding);
        if (padding > 0 && text.size() % 4 == 0) return std::nullopt;
    }
    // One character left over carries only six bits: no byte ends there.
    if (text.size() % 4 == 1) return std::nullopt;
    std::vector<unsigned char> bytes;
    bytes.reserve(text.size() * 3 / 4);
    std::uint32_t bits = 0;
    int held = 0;
    for (const char c : text) {
        const int value = sextet(c);
        if (value < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            bytes.push_back(static_cast<unsigned char>((bits >> held) & 0xFF));
        }
    }
    // Bits left below the last byte must be zero: otherwise two texts would
    // read as the same value.
    if ((bits & ((1u << held) - 1)) != 0) return std::nullopt;
    return bytes;
}

std::string encodeBase64(const unsigned char* data, std::size_t size) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        const std::size_t count = size - i < 3 ? size - i : 3;
        std::uint32_t bits = static_cast<std::uint32_t>(data[i]) << 16;
        if (count > 1) bits |= static_cast<std::uint32_t>(data[i + 1]) << 8;
        if (count > 2) bits |= data[i + 2];
        for (std::size_t sextetIndex = 0; sextetIndex < 4; ++sextetIndex) {
            text += sextetIndex <= count ? kAlphabet[(bits >> (18 - 6 * sextetIndex)) & 0x3F] : '=';
        }
    }
    return text;
}
