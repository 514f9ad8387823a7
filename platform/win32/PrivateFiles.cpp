#include "platform/PrivateFiles.h"

#include <windows.h>

#include "platform/SystemErrorText.h"
// The headers below need the types of windows.h.
#include <aclapi.h>
#include <sddl.h>

#include <stdexcept>
#include <vector>

#include "text/TextConversion.h"

namespace platform {
namespace {

std::runtime_error failure(const std::string& what, DWORD error) {
    return std::runtime_error(windowsErrorText(what, error));
}

class Handle {
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() {
        // Nothing is written through these handles that a close could lose.
        if (valid()) ::CloseHandle(m_handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE get() const { return m_handle; }
    HANDLE release() {
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE m_handle;
};

// One piece of the process token (TokenUser, TokenOwner), as returned.
std::vector<BYTE> tokenPart(TOKEN_INFORMATION_CLASS part) {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        throw failure("cannot open the process token", ::GetLastError());
    }
    const Handle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), part, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.get(), part, buffer.data(), size, &size)) {
        throw failure("cannot read the process token", ::GetLastError());
    }
    return buffer;
}

std::wstring sidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text)) {
        throw failure("cannot name the user", ::GetLastError());
    }
    std::wstring result(text);
    ::LocalFree(text);
    return result;
}

// A protected access list with one entry: the user, full control, passed on
// to everything created inside.
std::vector<BYTE> userOnlyAcl(PSID user) {
    const DWORD size = static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) +
                                          ::GetLengthSid(user));
    std::vector<BYTE> buffer(size);
    auto* acl = reinterpret_cast<PACL>(buffer.data());
    if (!::InitializeAcl(acl, size, ACL_REVISION) ||
        !::AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                 FILE_ALL_ACCESS, user)) {
        throw failure("cannot build an access list", ::GetLastError());
    }
    return buffer;
}

// Opens path itself, never what a link or junction there points to.
HANDLE openNoFollow(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
    return ::CreateFileW(
        path.c_str(), access, share, nullptr, disposition,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

std::wstring usualFolderOf(const std::string& tempRoot, PSID user) {
    std::wstring root = utf8ToWide(tempRoot);
    while (!root.empty() && (root.back() == L'\\' || root.back() == L'/')) root.pop_back();
    return root + L"\\websetup-" + sidText(user);
}

}  // namespace

std::string usualPrivateFolder(const std::string& tempRoot) {
    const std::vector<BYTE> userToken = tokenPart(TokenUser);
    return wideToUtf8(
        usualFolderOf(tempRoot, reinterpret_cast<const TOKEN_USER*>(userToken.data())->User.Sid));
}

PrivateFolder privateTempFolder(const std::string& tempRoot) {
    const std::vector<BYTE> userToken = tokenPart(TokenUser);
    const std::vector<BYTE> ownerToken = tokenPart(TokenOwner);
    const PSID user = reinterpret_cast<const TOKEN_USER*>(userToken.data())->User.Sid;
    // An elevated program's files belong to the administrators group by
    // default, not to the user.
    const PSID defaultOwner = reinterpret_cast<const TOKEN_OWNER*>(ownerToken.data())->Owner;
    std::vector<BYTE> acl = userOnlyAcl(user);

    const std::wstring folder = usualFolderOf(tempRoot, user);
    const std::string folderText = wideToUtf8(folder);

    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE);
    ::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    if (!::CreateDirectoryW(folder.c_str(), &attributes) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
        throw failure("cannot create " + folderText, ::GetLastError());
    }

    // Whatever is there now, created by us or planted before, is judged
    // through a handle that did not follow a link.
    const Handle directory(openNoFollow(folder, READ_CONTROL | WRITE_DAC,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        OPEN_EXISTING));
    if (!directory.valid()) throw failure("cannot open " + folderText, ::GetLastError());
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(directory.get(), &information)) {
        throw failure("cannot examine " + folderText, ::GetLastError());
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        throw std::runtime_error(folderText + " is not a directory of its own");
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR ownerDescriptor = nullptr;
    if (::GetSecurityInfo(directory.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                          nullptr, nullptr, nullptr, &ownerDescriptor) != ERROR_SUCCESS) {
        throw failure("cannot examine " + folderText, ::GetLastError());
    }
    const bool ours = ::EqualSid(owner, user) || ::EqualSid(owner, defaultOwner);
    ::LocalFree(ownerDescriptor);
    if (!ours) throw std::runtime_error(folderText + " belongs to another user");
    // A folder left from before may have been opened up since.
    const DWORD reset =
        ::SetSecurityInfo(directory.get(), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, reinterpret_cast<PACL>(acl.data()), nullptr);
    if (reset != ERROR_SUCCESS) throw failure("cannot restrict " + folderText, reset);
    return {folderText, {}};
}

std::string unlinkUnsafeEntry(const std::string& path) {
    const std::wstring wide = utf8ToWide(path);
    BY_HANDLE_FILE_INFORMATION information{};
    {
        const Handle entry(openNoFollow(wide, FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        OPEN_EXISTING));
        if (!entry.valid()) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
            return windowsErrorText("cannot examine " + path, error);
        }
        if (!::GetFileInformationByHandle(entry.get(), &information)) {
            return windowsErrorText("cannot examine " + path, ::GetLastError());
        }
    }
    const bool link = (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const bool directory = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!link && directory) return path + " is not a regular file";
    if (!link && information.nNumberOfLinks == 1) return {};
    const BOOL removed = directory ? ::RemoveDirectoryW(wide.c_str()) : ::DeleteFileW(wide.c_str());
    if (!removed)
        return windowsErrorText("cannot remove the linked entry " + path, ::GetLastError());
    return {};
}

bool restrictToOwner(const std::string& path) {
    Handle file(openNoFollow(utf8ToWide(path), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    if (!file.valid()) return false;
    // Held until the process ends: while it is open nobody can write, replace
    // or delete the file, and starting it only needs to read it.
    (void)file.release();
    return true;
}

FileLock::~FileLock() {
    // Closing releases the lock; nothing was written through this handle.
    ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

std::unique_ptr<FileLock> FileLock::tryLock(const std::string& path) {
    const std::string unsafe = unlinkUnsafeEntry(path);
    if (!unsafe.empty()) throw std::runtime_error(unsafe);
    Handle file(openNoFollow(utf8ToWide(path), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_ALWAYS));
    if (!file.valid()) throw failure("cannot open " + path, ::GetLastError());
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(file.get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        throw std::runtime_error("cannot open " + path + ": not a plain file");
    }
    // Windows locks are mandatory: the locked byte lies far past any record,
    // so the downloader's own writes to the file are not refused.
    OVERLAPPED pastRecords{};
    pastRecords.OffsetHigh = 0x7FFFFFFF;
    if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &pastRecords)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_LOCK_VIOLATION) return nullptr;
        throw failure("cannot lock " + path, error);
    }
    return std::unique_ptr<FileLock>(new FileLock(reinterpret_cast<std::intptr_t>(file.release())));
}

}  // namespace platform
