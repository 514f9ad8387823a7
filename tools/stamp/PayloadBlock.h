#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "app/PayloadInfo.h"

// Writing side of the stamped settings block: "PayloadInfo:", the items
// "key=value;" and two zero bytes, at the very end of the stamped stub. A
// signed block carries one more item, the signature item, last
// (app/StampedBlock.h):
//
//   PayloadInfo:key=value;...;~signature=SIGNATURE:COMMENT:GLOBAL;\0\0
//
// where SIGNATURE, COMMENT and GLOBAL are the second line, the trusted
// comment (encoded as a setting value) and the fourth line of the minisign
// signature of everything from the marker up to "~signature".

// Settings to stamp: key and plain UTF-8 value, in the order the stub will
// see them.
using StampSettings = std::map<std::string, std::string, PayloadKeyOrder>;

// Why the block cannot carry this key (empty, "=", ";", NUL, white space, the
// marker text, which would make the stub start reading inside the key, or the
// signature item's key), or std::nullopt when it can.
std::optional<std::string> keyProblem(std::string_view key);

// Why the block cannot carry this value: only text that is valid UTF-8 comes
// back unchanged through the stub's UTF-8 conversion, and a NUL character
// would be stamped as an escape the stub refuses (storedValueProblem).
std::optional<std::string> valueProblem(std::string_view value);

// Encodes a UTF-8 value so that decodeSettingValue gives back exactly the same
// text. Letters, digits and "-._~" stay as they are, and so do bytes from 0x80
// up: an escape decodes to a single UTF-16 unit, so a multi-byte character
// must reach the stub's UTF-8 conversion raw. Every other byte (reserved
// characters, "+", "%", ";", "=", blanks, control characters) becomes %XX.
std::string encodeSettingValue(std::string_view value);

// The complete block for the settings: marker, encoded items, two zero bytes.
std::string makePayloadBlock(const StampSettings& settings);

// The complete signed block: marker, encoded items, the signature item and
// two zero bytes. sign returns the text of the minisign signature file
// (prehashed) of the bytes it is given. Throws std::runtime_error when that
// text is not a signature file of one line each.
std::string makeSignedPayloadBlock(
    const StampSettings& settings,
    const std::function<std::string(std::string_view signedBytes)>& sign);

// Offset of a block in the format above that ends the file exactly (marker,
// well-formed items, two zero bytes, nothing after them), or std::nullopt.
// Restamping cuts the file there, so that blocks are replaced, not stacked.
std::optional<std::size_t> findStampedBlock(std::string_view file);
