#include <gtest/gtest.h>

#include <cctype>
#include <climits>

#include "app/ProductCatalog.h"
#include "websetup/BuildConfig.h"

namespace {

TEST(ProductCatalog, LooksKeysUpExactly) {
    const struct {
        std::string_view key;
        ProductId expected;
    } cases[] = {
        {"wrnkit", 5},   {"WRNKIT", 0},     {"Wrnkit", 0},
        {"wrnki", 0},    {"wrnkitx", 0},    {"", 0},
        {"pixelorb", 1}, {"cubestart", 15}, {std::string_view("wrnkit\0", 7), 0},
        {" wrnkit", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(productIdFromKey(c.key), c.expected) << c.key;
}

TEST(ProductCatalog, EveryRowIsReachableByItsKeyAndHasAnUnownableHttpsAddress) {
    ProductId expectedId = 1;
    for (const ProductRow& row : productCatalog()) {
        EXPECT_EQ(row.id, expectedId++);
        EXPECT_EQ(productIdFromKey(row.key), row.id) << row.key;
        for (const char c : row.key) EXPECT_FALSE(std::isupper(static_cast<unsigned char>(c)));
        EXPECT_FALSE(productDisplayName(row.id).empty());
        EXPECT_FALSE(productFileStem(row.id).empty());
        EXPECT_EQ(row.host.substr(0, 8), "https://") << row.key;
        // A reserved name nobody can register: a build that names no download
        // host of its own can fetch nothing.
        EXPECT_EQ(row.host.substr(row.host.size() - 8), ".example") << row.key;
        EXPECT_EQ(row.path.front(), '/') << row.key;
        EXPECT_EQ(productDownloadUrl(row.id, ""), std::string(row.host) + std::string(row.path));
        EXPECT_EQ(row.manualPage.substr(0, 8), "https://") << row.key;
        EXPECT_NE(row.manualPage.find(".example/"), std::string_view::npos) << row.key;
    }
}

TEST(ProductCatalog, RowsWithBehaviourElsewhere) {
    EXPECT_EQ(productDisplayName(3), L"Reel Box");
    EXPECT_EQ(productDisplayName(5), L"WrenKit");
    EXPECT_EQ(productFileStem(5), L"wren_kit");
    EXPECT_EQ(productDisplayName(13), L"Vault-O");
    EXPECT_EQ(productFileStem(13), L"vault_o");
}

TEST(ProductCatalog, IdsOutsideTheTableGiveEmptyText) {
    for (const ProductId id : {0, 16, -1, INT_MIN, INT_MAX}) {
        EXPECT_EQ(productDisplayName(id), L"") << id;
        EXPECT_EQ(productFileStem(id), L"") << id;
        EXPECT_EQ(productDownloadUrl(id), "") << id;
        EXPECT_EQ(productManualPage(id), "") << id;
        EXPECT_EQ(productDownloadUrl(id, "https://127.0.0.1:8443"), "") << id;
    }
}

TEST(ProductCatalog, HostOverrideReplacesSchemeAndHostOnly) {
    EXPECT_EQ(productDownloadUrl(6, "http://127.0.0.1:8080"),
              "http://127.0.0.1:8080/static/distr/doc_scope_setup.exe");
    EXPECT_EQ(productDownloadUrl(5, "https://[::1]:8443/"), "https://[::1]:8443/app/download");

    const std::string_view configured = buildconfig::kDownloadHostOverride;
    EXPECT_EQ(productDownloadUrl(5), productDownloadUrl(5, configured));
    if (configured.empty()) {
        EXPECT_EQ(productDownloadUrl(5).substr(0, 8), "https://");
    }
}

}  // namespace
