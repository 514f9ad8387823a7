#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// The settings stamped behind the end of the executable: the marker
// "PayloadInfo:" followed by items "key=value;". Keys and values are kept
// exactly as stored; values are decoded only where they are used
// (decodeSettingValue, takeSetting).

// Orders keys by unsigned byte values, so that "PidVaulto" sorts before "ap"
// and a key with a byte above 0x7F sorts after every ASCII key, whatever the
// signedness of char.
struct PayloadKeyOrder {
    using is_transparent = void;
    bool operator()(std::string_view left, std::string_view right) const;
};

using PayloadInfo = std::map<std::string, std::string, PayloadKeyOrder>;

inline constexpr std::string_view kPayloadMarker = "PayloadInfo:";

// Only the end of the file is searched: the block is stamped behind
// everything else, and a large file must not be read whole.
inline constexpr std::uint64_t kPayloadWindowLimit = 104857600;

// The last min(file size, kPayloadWindowLimit) bytes of the file at path
// (UTF-8), read with one read. std::nullopt when the file cannot be opened,
// its size cannot be determined or the window cannot be read in full.
std::optional<std::string> readPayloadWindow(const std::string& path);

// Position of the last marker in the window: the executable's own constant
// data holds the marker text too, earlier than the stamped block.
std::optional<std::size_t> findPayloadMarker(std::string_view window);

// Calls visit(key, value, itemBegin) for each item after the last marker of
// the window, in order, by the rules of parsePayloadInfo; itemBegin is the
// offset of the item's first byte in the window.
void forEachPayloadItem(std::string_view window,
                        const std::function<void(std::string_view key, std::string_view value,
                                                 std::size_t itemBegin)>& visit);

// Parses the items after the last marker of the window. Items are taken up to
// the first empty item, the last ";" or the first NUL byte, whichever comes
// first; an item without "=" or beginning with "=" is skipped; a repeated key
// keeps its last value. Nothing is trimmed. No marker gives an empty map.
// Stopping at a NUL byte keeps an unstamped program from taking whatever
// follows its own copy of the marker text in its constant data for settings.
PayloadInfo parsePayloadInfo(std::string_view window);

// readPayloadWindow + parsePayloadInfo. A file that cannot be read gives an
// empty map, as a file without a block does: the caller then runs with the
// settings' empty defaults.
PayloadInfo readPayloadInfo(const std::string& path);

// readPayloadInfo of the running executable; an empty map when its path is
// unknown.
PayloadInfo readOwnPayloadInfo();

// Returns the decoded value stored under key (empty text when absent) and
// removes the key, so that what is left over can be passed on as a whole.
std::wstring takeSetting(PayloadInfo& payload, std::string_view key);
