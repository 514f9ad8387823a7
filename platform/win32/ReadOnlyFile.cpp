#include "platform/ReadOnlyFile.h"

#include <windows.h>

#include <algorithm>

#include "platform/SystemErrorText.h"
#include "text/TextConversion.h"

namespace platform {
namespace {}  // namespace

ReadOnlyFile::~ReadOnlyFile() {
    // Opened for reading only: a close has nothing to lose.
    ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::open(const std::string& path, std::string& error) {
    // Sharing reading alone: nobody may write, rename or delete the file
    // while it is held, and starting it only reads it.
    const HANDLE file =
        ::CreateFileW(utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = windowsErrorText("cannot open " + path, ::GetLastError());
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        ::CloseHandle(file);
        error = "cannot open " + path + ": not a plain file";
        return nullptr;
    }
    return std::unique_ptr<ReadOnlyFile>(
        new ReadOnlyFile(path, reinterpret_cast<std::intptr_t>(file)));
}

std::int64_t ReadOnlyFile::readAt(std::int64_t offset, unsigned char* buffer, std::size_t size,
                                  std::string& error) const {
    std::size_t got = 0;
    while (got < size) {
        OVERLAPPED at{};
        const auto position = static_cast<std::uint64_t>(offset) + got;
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size - got, 1u << 30));
        DWORD step = 0;
        if (!::ReadFile(reinterpret_cast<HANDLE>(m_handle), buffer + got, wanted, &step, &at)) {
            const DWORD failure = ::GetLastError();
            if (failure == ERROR_HANDLE_EOF) break;
            error = windowsErrorText("cannot read " + m_path, failure);
            return -1;
        }
        if (step == 0) break;
        got += step;
    }
    return static_cast<std::int64_t>(got);
}

}  // namespace platform
