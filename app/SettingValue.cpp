#include "app/SettingValue.h"

#include <optional>

#include "text/TextConversion.h"

namespace {

std::optional<wchar_t> hexDigitValue(wchar_t unit) {
    if (unit >= L'0' && unit <= L'9') return static_cast<wchar_t>(unit - L'0');
    if (unit >= L'a' && unit <= L'f') return static_cast<wchar_t>(unit - L'a' + 10);
    if (unit >= L'A' && unit <= L'F') return static_cast<wchar_t>(unit - L'A' + 10);
    return std::nullopt;
}

}  // namespace

std::wstring urlDecode(std::wstring_view text) {
    const std::size_t length = text.size();
    std::wstring output;
    output.reserve(length);
    std::size_t i = 0;
    while (i < length) {
        const wchar_t unit = text[i];
        if (unit == L'+') {
            output.push_back(L' ');
            ++i;
            continue;
        }
        const auto high =
            unit == L'%' && i + 1 < length ? hexDigitValue(text[i + 1]) : std::nullopt;
        if (!high) {
            output.push_back(unit);
            ++i;
            continue;
        }
        const auto low = i + 2 < length ? hexDigitValue(text[i + 2]) : std::nullopt;
        output.push_back(low ? static_cast<wchar_t>(*high * 16 + *low) : *high);
        i += 3;
    }
    return output;
}

std::wstring decodeSettingValue(std::string_view raw) { return urlDecode(utf8ToWide(raw)); }

std::optional<std::string> storedValueProblem(std::string_view raw) {
    if (decodeSettingValue(raw).find(L'\0') != std::wstring::npos) {
        return "its value decodes to a NUL character";
    }
    return std::nullopt;
}
