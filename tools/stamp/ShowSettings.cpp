#include "tools/stamp/ShowSettings.h"

#include "app/PayloadInfo.h"
#include "app/SettingValue.h"
#include "app/TextConversion.h"
#include "tools/stamp/PayloadBlock.h"
#include "tools/stamp/StampFile.h"

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
        text.append(wideToUtf8(utf8ToWide(key)))
            .append("=")
            .append(wideToUtf8(decodeSettingValue(value)))
            .append("\n");
    }
    return text;
}
