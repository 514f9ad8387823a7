#pragma once

#include <optional>
#include <string>
#include <string_view>

// Decoding of the values of the stamped settings block. A stored value is
// UTF-8 text in which reserved characters are written as per-cent escapes and
// a space may be written as "+".

// Decodes per-cent escapes and "+" over UTF-16 units:
// - "+" becomes a space.
// - "%" followed by one or two hexadecimal digits (either case) becomes one
//   UTF-16 unit with that value; the escape always consumes the "%" and the
//   two units after it (or up to the end of the text), so "%4g" yields U+0004
//   and drops the "g". Escapes are never combined into multi-byte UTF-8:
//   "%80" to "%FF" yield the units U+0080 to U+00FF (the ISO 8859-1 reading
//   of the byte), so non-ASCII text must be stored as raw UTF-8, not escaped.
// - "%" not followed by a hexadecimal digit ("%zz", or "%" at the very end)
//   is not an escape: the "%" is kept as a literal character and decoding goes
//   on with the unit after it. Nothing of the text is dropped and no NUL unit
//   is invented where the stored text had none.
// - Every other unit is copied unchanged.
std::wstring urlDecode(std::wstring_view text);

// Converts a stored value from UTF-8 to UTF-16 (invalid sequences skipped) and
// then applies urlDecode.
std::wstring decodeSettingValue(std::string_view raw);

// Why the stub refuses a stored value, or std::nullopt when it takes it. A
// value that decodes to a NUL character ("%00", or "%0" not followed by a
// hexadecimal digit) is refused: where the installer's command line becomes a
// C string, it would end there, and every argument after it would be lost.
std::optional<std::string> storedValueProblem(std::string_view raw);
