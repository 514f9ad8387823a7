// Test and demo helper: prints what a stub would read from its own settings
// block, decoded, one "key=value" line per setting in key order (UTF-8).
#include <iostream>

#include "app/PayloadInfo.h"
#include "app/SettingValue.h"
#include "app/TextConversion.h"

int main() {
    for (const auto& [key, value] : readOwnPayloadInfo()) {
        std::cout << wideToUtf8(utf8ToWide(key)) << '=' << wideToUtf8(decodeSettingValue(value))
                  << '\n';
    }
    return std::cout.flush() ? 0 : 1;
}
