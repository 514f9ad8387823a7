#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "app/PayloadInfo.h"

// Writing side of the stamped settings block: "PayloadInfo:", the items
// "key=value;" and two zero bytes, at the very end of the stamped stub.

// Settings to stamp: key and plain UTF-8 value, in the order the stub will
// see them.
using StampSettings = std::map<std::string, std::string, PayloadKeyOrder>;

// Why the block cannot carry this key (empty, "=", ";", NUL, white space, or
// the marker text, which would make the stub start reading inside the key),
// or std::nullopt when it can.
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

// Offset of a block in the format above that ends the file exactly (marker,
// well-formed items, two zero bytes, nothing after them), or std::nullopt.
// Restamping cuts the file there, so that blocks are replaced, not stacked.
std::optional<std::size_t> findStampedBlock(std::string_view file);
