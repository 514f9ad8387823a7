#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "setup/ErrorClass.h"
#include "setup/InstallerParameters.h"

namespace {

TEST(ErrorTextTest, EachKindOfFailureHasItsText) {
    const struct {
        ErrorClass error;
        const wchar_t* expected;
    } cases[] = {
        {{ErrorClass::kDownloadError, 6}, L"Download Error (system code: 6). "},
        {{ErrorClass::kDownloadError, 28}, L"Download Error (system code: 28). "},
        {{ErrorClass::kServerError, 2001}, L"Server Error (system code: 2001). "},
        {{ErrorClass::kServerError, -1}, L"Server Error (system code: -1). "},
        {{0, 7}, L"Internal Error."},
        {{3, 7}, L"Internal Error."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errorText(c.error), c.expected) << c.error.errorType << "/" << c.error.systemCode;
    }
}

InstallerSettings settings(ProductId product = 5) {
    InstallerSettings result;
    result.productId = product;
    return result;
}

TEST(InstallerParametersTest, NamedSettingsInTheirOrderThenExtrasInKeyOrder) {
    InstallerSettings all = settings();
    all.payload = {{"b", "2"}, {"a", "x%20y"}, {"PidVaulto", "abc"}};
    all.offerUrl = L"https://example.com/?a=1&b=2";
    all.silentMode = true;
    all.contentAddress = L"http://example.com/a b";
    all.contentType = L"10";
    all.vid = L"7";
    all.partnerId = L"12";

    InstallerSettings quoted = settings();
    quoted.contentAddress = L"say \"hi\"";

    InstallerSettings minimal = settings();
    minimal.partnerId = L"12";
    minimal.vid = L"7";
    minimal.silentMode = true;

    const struct {
        const char* name;
        InstallerSettings input;
        std::optional<std::wstring> expected;
    } cases[] = {
        {"nothing", settings(), std::wstring()},
        {"partner, vid, silent", minimal, std::wstring(L" /partnerId=12 /vid=7 /S")},
        {"every kind", all,
         std::wstring(L" /partnerId=12 /vid=7 /contentType=10"
                      L" /contentAddress=\"http://example.com/a b\""
                      L" /offerUrl=\"https://example.com/?a=1&b=2\" /S"
                      L" /PidVaulto=\"abc\" /a=\"x y\" /b=\"2\"")},
        {"quote inserted unescaped", quoted, std::wstring(L" /contentAddress=\"say \"hi\"\"")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(installerParameters(c.input), c.expected) << c.name;
    }
}

TEST(InstallerParametersTest, VaultOPassesOnlyItsCampaignId) {
    InstallerSettings vaulto = settings(kVaultOProductId);
    vaulto.partnerId = L"12";
    vaulto.silentMode = true;
    vaulto.payload = {{"PidVaulto", "abc"}, {"other", "1"}};
    EXPECT_EQ(installerParameters(vaulto), std::wstring(L" /subid abc"));

    vaulto.payload = {{"PidVaulto", "a%20b"}};
    EXPECT_EQ(installerParameters(vaulto), std::wstring(L" /subid a b"));

    vaulto.payload = {{"other", "1"}};
    EXPECT_EQ(installerParameters(vaulto), std::nullopt) << "no parameters at all";
    vaulto.payload = {{"PidVaulto", ""}};
    EXPECT_EQ(installerParameters(vaulto), std::nullopt);
}

}  // namespace
