// The stub's version resource and manifest as Windows reads them back: the
// stub built with this build's settings, and this test program, whose
// resources come from the same templates with another execution level and
// version fields holding quotes, a backslash and Cyrillic letters.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "ResourceExpectations.h"
#include "text/TextConversion.h"

namespace {

struct Identity {
    std::wstring path;
    std::string company;
    std::string copyright;
    std::string executionLevel;
};

std::wstring ownPath() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
    return path;
}

std::vector<Identity> identities() {
    return {{STUB_PATH, expected::kStubCompany, expected::kStubCopyright,
             expected::kStubExecutionLevel},
            {ownPath(), expected::kVariantCompany, expected::kVariantCopyright,
             expected::kVariantExecutionLevel}};
}

class VersionResource {
public:
    explicit VersionResource(const std::wstring& path) {
        DWORD handle = 0;
        m_bytes.resize(::GetFileVersionInfoSizeW(path.c_str(), &handle));
        if (m_bytes.empty() ||
            !::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(m_bytes.size()),
                                   m_bytes.data())) {
            m_bytes.clear();
        }
    }
    bool empty() const { return m_bytes.empty(); }

    // A string of the US English, Unicode table; nothing when it is left out.
    std::optional<std::string> string(const std::wstring& name) {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring key = L"\\StringFileInfo\\040904b0\\" + name;
        if (!::VerQueryValueW(m_bytes.data(), key.c_str(), &value, &length) || value == nullptr) {
            return std::nullopt;
        }
        return wideToUtf8(static_cast<const wchar_t*>(value));
    }

    const VS_FIXEDFILEINFO* fixed() {
        void* value = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(m_bytes.data(), L"\\", &value, &length) ||
            length < sizeof(VS_FIXEDFILEINFO)) {
            return nullptr;
        }
        return static_cast<const VS_FIXEDFILEINFO*>(value);
    }

private:
    std::vector<BYTE> m_bytes;
};

std::string embeddedManifest(const std::wstring& path) {
    const HMODULE module = ::LoadLibraryExW(
        path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) return {};
    std::string text;
    const HRSRC found = ::FindResourceW(module, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
    const HGLOBAL loaded = found != nullptr ? ::LoadResource(module, found) : nullptr;
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes != nullptr) {
        text.assign(static_cast<const char*>(bytes), ::SizeofResource(module, found));
    }
    ::FreeLibrary(module);
    return text;
}

std::optional<std::string> optionalField(const std::string& value) {
    if (value.empty()) return std::nullopt;
    return value;
}

TEST(ResourceIdentityTest, VersionResourceCarriesTheProductAndTheSettings) {
    for (const Identity& identity : identities()) {
        SCOPED_TRACE(wideToUtf8(identity.path));
        VersionResource resource(identity.path);
        ASSERT_FALSE(resource.empty()) << "no version resource, error " << ::GetLastError();
        EXPECT_EQ(resource.string(L"ProductName"), expected::kProductName);
        EXPECT_EQ(resource.string(L"FileVersion"), expected::kProjectVersion);
        EXPECT_EQ(resource.string(L"ProductVersion"), expected::kProjectVersion);
        EXPECT_EQ(resource.string(L"OriginalFilename"), std::string(expected::kStubName) + ".exe");
        EXPECT_TRUE(resource.string(L"FileDescription").has_value());
        EXPECT_EQ(resource.string(L"CompanyName"), optionalField(identity.company));
        EXPECT_EQ(resource.string(L"LegalCopyright"), optionalField(identity.copyright));

        const VS_FIXEDFILEINFO* fixed = resource.fixed();
        ASSERT_NE(fixed, nullptr);
        EXPECT_EQ(fixed->dwFileVersionMS,
                  (expected::kVersionMajor << 16) | expected::kVersionMinor);
        EXPECT_EQ(fixed->dwFileVersionLS, expected::kVersionPatch << 16);
        EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
        EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    }
}

TEST(ResourceIdentityTest, ManifestAsksForTheConfiguredExecutionLevel) {
    const std::regex level(R"re(<requestedExecutionLevel\s+level="([A-Za-z]+)")re");
    for (const Identity& identity : identities()) {
        SCOPED_TRACE(wideToUtf8(identity.path));
        const std::string manifest = embeddedManifest(identity.path);
        ASSERT_FALSE(manifest.empty()) << "no manifest, error " << ::GetLastError();
        std::smatch found;
        ASSERT_TRUE(std::regex_search(manifest, found, level)) << manifest;
        EXPECT_EQ(found[1].str(), identity.executionLevel);
    }
}

}  // namespace
