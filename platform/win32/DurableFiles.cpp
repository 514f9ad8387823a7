#include "platform/DurableFiles.h"

#include <windows.h>

#include "platform/SystemErrorText.h"
#include "text/TextConversion.h"

namespace platform {
namespace {

// Opens without following a link at the last step.
HANDLE openNoFollow(const std::wstring& path, DWORD access, DWORD disposition) {
    return ::CreateFileW(
        path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

std::string syncFileData(const std::string& path) {
    const HANDLE file = openNoFollow(utf8ToWide(path), GENERIC_WRITE, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE)
        return windowsErrorText("cannot open " + path, ::GetLastError());
    const bool flushed = ::FlushFileBuffers(file) != 0;
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);  // nothing was written through this handle
    return flushed ? std::string() : windowsErrorText("cannot flush " + path, error);
}

std::string replaceFileDurably(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".new";
    const std::wstring wideTemporary = utf8ToWide(temporary);
    const HANDLE file = openNoFollow(wideTemporary, GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        return windowsErrorText("cannot create " + temporary, ::GetLastError());
    }
    DWORD written = 0;
    const bool complete =
        ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
        written == content.size() && ::FlushFileBuffers(file);
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);  // flushed above, or abandoned
    if (!complete) {
        ::DeleteFileW(wideTemporary.c_str());
        return windowsErrorText("cannot write " + temporary, error);
    }
    // Write-through: the call returns once the new name is on the disk.
    if (!::MoveFileExW(wideTemporary.c_str(), utf8ToWide(path).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD moveError = ::GetLastError();
        ::DeleteFileW(wideTemporary.c_str());
        return windowsErrorText("cannot rename " + temporary + " to " + path, moveError);
    }
    return {};
}

std::string removeFileDurably(const std::string& path) {
    if (::DeleteFileW(utf8ToWide(path).c_str())) return {};
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    return windowsErrorText("cannot remove " + path, error);
}

bool isOwnPlainFile(const std::string& path, std::int64_t size) {
    const HANDLE file = openNoFollow(utf8ToWide(path), FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = ::GetFileInformationByHandle(file, &information) != 0;
    ::CloseHandle(file);  // opened for its attributes only
    const auto length = (static_cast<std::int64_t>(information.nFileSizeHigh) << 32) |
                        static_cast<std::int64_t>(information.nFileSizeLow);
    return known &&
           (information.dwFileAttributes &
            (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
           information.nNumberOfLinks == 1 && length == size;
}

}  // namespace platform
