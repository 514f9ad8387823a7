#include "downloader/FilePath.h"

#include <boost/locale/encoding_utf.hpp>

boost::filesystem::path toFilePath(const std::wstring& path) {
    return boost::filesystem::path(boost::locale::conv::utf_to_utf<char>(path));
}
