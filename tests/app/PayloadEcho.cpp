// Test and demo helper: prints what a stub would read from its own settings
// block, decoded, one "key=value" line per setting in key order (UTF-8).
#include <iostream>

#include "app/PayloadInfo.h"
#include "app/SettingValue.h"
#include "text/TextConversion.h"

// A stub's own code names the marker, but whether the text survives in its
// constant data is the optimiser's choice (at -O3 it does not). The stamped
// program tests need a program that holds it before its block whatever the
// build type, so this one keeps a copy that the linker cannot drop.
extern const char kMarkerInConstantData[];
const char kMarkerInConstantData[] = "PayloadInfo: in constant data";

int main() {
    for (const auto& [key, value] : readOwnPayloadInfo()) {
        std::cout << wideToUtf8(utf8ToWide(key)) << '=' << wideToUtf8(decodeSettingValue(value))
                  << '\n';
    }
    return std::cout.flush() ? 0 : 1;
}
