#include "app/TextConversion.h"

#include <boost/locale/encoding_utf.hpp>

std::u16string utf8ToUtf16(std::string_view text) {
    return boost::locale::conv::utf_to_utf<char16_t>(text.data(), text.data() + text.size(),
                                                     boost::locale::conv::skip);
}

std::string utf16ToUtf8(std::u16string_view text) {
    return boost::locale::conv::utf_to_utf<char>(text.data(), text.data() + text.size(),
                                                 boost::locale::conv::skip);
}
