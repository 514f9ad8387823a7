#include "app/SettingsDescription.h"

#include <cstdio>

#include "app/SettingValue.h"
#include "text/TextConversion.h"

namespace {

bool needsEscaping(const std::string& text) {
    if (!text.empty() && (text.front() == ' ' || text.back() == ' ')) return true;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\' || byte < 0x20 || byte == 0x7f) return true;
    }
    return false;
}

}  // namespace

std::string visibleText(const std::string& text) {
    if (!needsEscaping(text)) return text;
    std::string shown = "\"";
    for (const char c : text) {
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

std::string settingLines(const PayloadInfo& payload) {
    std::string text;
    for (const auto& [key, value] : payload) {
        text.append(wideToUtf8(utf8ToWide(key)));
        if (const auto problem = storedValueProblem(value)) {
            text.append(" is dropped by the stub: ").append(*problem).append("\n");
            continue;
        }
        text.append("=").append(visibleText(wideToUtf8(decodeSettingValue(value)))).append("\n");
    }
    return text;
}
