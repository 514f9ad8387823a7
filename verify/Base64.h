#pragma once

#include <optional>
#include <string_view>
#include <vector>

// The standard base64 alphabet ('+', '/'). Padding is optional, but where
// present it must be right and last; any other character (blanks and line
// breaks included) or a length no encoding can have makes the text invalid.
// Digests and signatures are compared byte for byte afterwards, so a lenient
// reading that dropped stray characters would only hide a damaged value.
std::optional<std::vector<unsigned char>> decodeBase64(std::string_view text);
