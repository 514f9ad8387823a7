#include "app/SettingValue.h"

#include <optional>

#include "app/TextConversion.h"

namespace {

std::optional<char16_t> hexDigitValue(char16_t unit) {
    if (unit >= u'0' && unit <= u'9') return static_cast<char16_t>(unit - u'0');
    if (unit >= u'a' && unit <= u'f') return static_cast<char16_t>(unit - u'a' + 10);
    if (unit >= u'A' && unit <= u'F') return static_cast<char16_t>(unit - u'A' + 10);
    return std::nullopt;
}

}  // namespace

std::u16string urlDecode(std::u16string_view text) {
    const std::size_t length = text.size();
    std::u16string output;
    output.reserve(length);
    std::size_t i = 0;
    while (i < length) {
        const char16_t unit = text[i];
        if (unit == u'+') {
            output.push_back(u' ');
            ++i;
            continue;
        }
        const auto high =
            unit == u'%' && i + 1 < length ? hexDigitValue(text[i + 1]) : std::nullopt;
        if (!high) {
            output.push_back(unit);
            ++i;
            continue;
        }
        const auto low = i + 2 < length ? hexDigitValue(text[i + 2]) : std::nullopt;
        output.push_back(low ? static_cast<char16_t>(*high * 16 + *low) : *high);
        i += 3;
    }
    return output;
}

std::u16string decodeSettingValue(std::string_view raw) { return urlDecode(utf8ToUtf16(raw)); }
