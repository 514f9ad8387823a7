#include "tools/stamp/ShowSettings.h"

#include <cstdio>

#include "app/PayloadInfo.h"
#include "app/SettingValue.h"
#include "text/TextConversion.h"
#include "tools/stamp/PayloadBlock.h"
#include "tools/stamp/StampFile.h"

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

}  // namespace

std::string describeSettings(const std::string& path) {
    // The stub's own reader turns every failure into an empty map; open the
    // file here first so that a missing or unreadable file says why.
    requireReadable(path);
    const auto window = readPayloadWindow(path);
    if (!window) throw StampIoError("cannot read '" + path + "'");
    const PayloadInfo payload = parsePayloadInfo(*window);
    if (payload.empty()) {
        return path + (findStampedBlock(*window) ? " carries an empty settings block\n"
                                                 : " carries no settings block\n");
    }
    std::string text;
    for (const auto& [key, value] : payload) {
        text.append(wideToUtf8(utf8ToWide(key)));
        if (const auto problem = storedValueProblem(value)) {
            text.append(" is dropped by the stub: ").append(*problem).append("\n");
            continue;
        }
        text.append("=").append(visibleValue(wideToUtf8(decodeSettingValue(value)))).append("\n");
    }
    return text;
}
