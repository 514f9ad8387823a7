#include "platform/win32/WideText.h"

#include <boost/locale/encoding_utf.hpp>

namespace platform::win32 {

std::wstring fromUtf8(const std::string& text) {
    return boost::locale::conv::utf_to_utf<wchar_t>(text, boost::locale::conv::skip);
}

std::string toUtf8(const std::wstring& text) {
    return boost::locale::conv::utf_to_utf<char>(text, boost::locale::conv::skip);
}

}  // namespace platform::win32
