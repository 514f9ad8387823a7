#include "verify/PublisherSignature.h"

#include <windows.h>
// The headers below need the types of windows.h.
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <optional>

#include "text/TextConversion.h"
#include "verify/AuthenticodeVerdict.h"

namespace {

// The simple display name of the certificate that signed the file, read from
// the state of a verification that succeeded.
std::optional<std::wstring> signerName(HANDLE stateData) {
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(stateData);
    if (provider == nullptr) return std::nullopt;
    CRYPT_PROVIDER_SGNR* signer = ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr) {
        return std::nullopt;
    }
    PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
    if (certificate == nullptr) return std::nullopt;
    const DWORD length =
        ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (length <= 1) return std::nullopt;
    std::wstring name(length, L'\0');
    ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(),
                         length);
    name.resize(length - 1);
    return name;
}

}  // namespace

PublishedSignature fetchPublishedSignature(const InstallerOrigin&, const std::atomic<bool>&) {
    PublishedSignature embedded;
    embedded.available = true;
    return embedded;
}

PublisherCheck checkPublisherSignature(const platform::ReadOnlyFile& installer,
                                       const std::string& pinnedPublisher,
                                       const PublishedSignature&, const std::atomic<bool>&) {
    const std::wstring path = utf8ToWide(installer.path());
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    // The check reads the held file, not whatever the name leads to now.
    file.hFile = reinterpret_cast<HANDLE>(installer.nativeHandle());

    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    // Revocation as the system is configured: no flag turns it off here.
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    const std::optional<std::wstring> name =
        result == ERROR_SUCCESS ? signerName(data.hWVTStateData) : std::nullopt;
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    (void)::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return authenticodeVerdict(static_cast<std::uint32_t>(result), name,
                               utf8ToWide(pinnedPublisher));
}

std::string pinnedPublisherName(const std::string& pinnedPublisher) { return pinnedPublisher; }
