#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "websetup/ProductCatalogue.h"

// The compiled-in table of every product a stub can install, generated from
// the catalogue file the build was configured with (WEBSETUP_CATALOGUE). One
// build installs one of them, chosen by buildconfig::kProductKey.

// Row number of the catalogue, 1 to buildconfig::kProductCount; 0 means no
// product (a key found in no row).
using ProductId = std::int32_t;

struct ProductRow {
    ProductId id;
    std::string_view key;  // lower-case ASCII
    std::wstring_view displayName;
    std::wstring_view fileStem;
    // The product's own web site (scheme and host) and the path of its
    // download endpoint or installer file on it.
    std::string_view host;
    std::string_view path;
    // Where a user can download the full installer by hand when the stub
    // cannot.
    std::string_view manualPage;
};

using ProductCatalog = std::array<ProductRow, buildconfig::kProductCount>;

const ProductCatalog& productCatalog();

// Exact, case-sensitive match of the whole key; 0 when no row matches. The
// caller folds the case of the key first if it wants to.
ProductId productIdFromKey(std::string_view key);

// The row's columns; empty text for an id outside the table.
std::wstring productDisplayName(ProductId id);
std::wstring productFileStem(ProductId id);

// The row's absolute HTTPS download address. When the build sets
// buildconfig::kDownloadHostOverride, that scheme and host replace the row's
// own, so that test and demo builds fetch every product from one local server.
std::string productDownloadUrl(ProductId id);

// The row's manual download page; buildconfig::kManualPageOverride replaces
// it when set. Empty for an id outside the table.
std::string productManualPage(ProductId id);

// The same with the replacement host given explicitly (empty keeps the row's
// host); a trailing "/" of hostOverride is ignored.
std::string productDownloadUrl(ProductId id, std::string_view hostOverride);
