#include "app/PayloadInfo.h"

#include <algorithm>
#include <fstream>
#include <functional>

#include "app/SettingValue.h"
#include "platform/ExecutablePath.h"
#include "platform/NativePath.h"

bool PayloadKeyOrder::operator()(std::string_view left, std::string_view right) const {
    return std::lexicographical_compare(
        left.begin(), left.end(), right.begin(), right.end(), [](char a, char b) {
            return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
        });
}

std::optional<std::string> readPayloadWindow(const std::string& path) {
    std::ifstream file(platform::nativePath(path).c_str(), std::ios::binary);
    if (!file) return std::nullopt;
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (!file || size < 0) return std::nullopt;
    const auto length = static_cast<std::streamsize>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(size), kPayloadWindowLimit));
    std::string window(static_cast<std::size_t>(length), '\0');
    file.seekg(size - length, std::ios::beg);
    if (!file.read(window.data(), length)) return std::nullopt;
    return window;
}

std::optional<std::size_t> findPayloadMarker(std::string_view window) {
    // Searching backwards finds the stamped block first: it sits at the very
    // end, while a forward search would scan the whole window.
    const auto reversedMarker = std::string(kPayloadMarker.rbegin(), kPayloadMarker.rend());
    const auto found = std::search(
        window.rbegin(), window.rend(),
        std::boyer_moore_horspool_searcher(reversedMarker.begin(), reversedMarker.end()));
    if (found == window.rend()) return std::nullopt;
    return static_cast<std::size_t>(window.rend() - found) - kPayloadMarker.size();
}

void forEachPayloadItem(std::string_view window,
                        const std::function<void(std::string_view key, std::string_view value,
                                                 std::size_t itemBegin)>& visit) {
    const auto marker = findPayloadMarker(window);
    if (!marker) return;
    std::string_view rest = window.substr(*marker + kPayloadMarker.size());
    // A text block holds no NUL byte; a stamped one ends with two. Without a
    // block, the last marker is the program's own copy of the marker text,
    // whose NUL terminator must not let the parser read the constant data
    // behind it as settings.
    rest = rest.substr(0, rest.find('\0'));
    for (std::size_t end = rest.find(';'); end != std::string_view::npos && end != 0;
         end = rest.find(';')) {
        const std::string_view item = rest.substr(0, end);
        const std::size_t equals = item.find('=');
        if (equals != std::string_view::npos && equals != 0) {
            visit(item.substr(0, equals), item.substr(equals + 1),
                  static_cast<std::size_t>(item.data() - window.data()));
        }
        rest.remove_prefix(end + 1);
    }
}

PayloadInfo parsePayloadInfo(std::string_view window) {
    PayloadInfo payload;
    forEachPayloadItem(window,
                       [&payload](std::string_view key, std::string_view value, std::size_t) {
                           payload.insert_or_assign(std::string(key), std::string(value));
                       });
    return payload;
}

PayloadInfo readPayloadInfo(const std::string& path) {
    const auto window = readPayloadWindow(path);
    return window ? parsePayloadInfo(*window) : PayloadInfo();
}

PayloadInfo readOwnPayloadInfo() {
    const std::string path = platform::executablePath();
    return path.empty() ? PayloadInfo() : readPayloadInfo(path);
}

std::wstring takeSetting(PayloadInfo& payload, std::string_view key) {
    const auto found = payload.find(key);
    if (found == payload.end()) return {};
    std::wstring value = decodeSettingValue(found->second);
    payload.erase(found);
    return value;
}
