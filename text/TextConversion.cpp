#include "text/TextConversion.h"

#include <boost/locale/encoding_utf.hpp>

std::wstring utf8ToWide(std::string_view text) {
    return boost::locale::conv::utf_to_utf<wchar_t>(text.data(), text.data() + text.size(),
                                                    boost::locale::conv::skip);
}

std::string wideToUtf8(std::wstring_view text) {
    return boost::locale::conv::utf_to_utf<char>(text.data(), text.data() + text.size(),
                                                 boost::locale::conv::skip);
}
