#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The standard base64 alphabet ('+', '/'). Padding is optional, but where
// present it must be right and last; any other character (blanks and line
// breaks included) or a length no encoding can have makes the text invalid.
// Digests and signatures are compared byte for byte afterwards, so a lenient
// reading that dropped stray characters would only hide a damaged value.
std::optional<std::vector<unsigned char>> decodeBase64(std::string_view text);

// The padded standard form, as minisign and Repr-Digest values write it.
std::string encodeBase64(const unsigned char* data, std::size_t size);
