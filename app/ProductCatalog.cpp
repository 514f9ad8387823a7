#include "app/ProductCatalog.h"

#include <algorithm>

#include "websetup/BuildConfig.h"

namespace {

// The rows come from the catalogue file the build was configured with.
constexpr ProductCatalog kCatalog{{
#include "websetup/ProductCatalogueRows.inc"
}};

// The catalogue file numbers its rows 1 to N in order (checked when the build
// is configured), so an id is its row's position.
const ProductRow* findRow(ProductId id) {
    if (id < 1 || id > static_cast<ProductId>(kCatalog.size())) return nullptr;
    return &kCatalog[static_cast<std::size_t>(id - 1)];
}

}  // namespace

const ProductCatalog& productCatalog() { return kCatalog; }

ProductId productIdFromKey(std::string_view key) {
    const auto* const found = std::find_if(kCatalog.begin(), kCatalog.end(),
                                           [key](const ProductRow& row) { return row.key == key; });
    return found == kCatalog.end() ? 0 : found->id;
}

std::wstring productDisplayName(ProductId id) {
    const ProductRow* row = findRow(id);
    return row ? std::wstring(row->displayName) : std::wstring();
}

std::wstring productFileStem(ProductId id) {
    const ProductRow* row = findRow(id);
    return row ? std::wstring(row->fileStem) : std::wstring();
}

std::string productDownloadUrl(ProductId id) {
    return productDownloadUrl(id, buildconfig::kDownloadHostOverride);
}

std::string productDownloadUrl(ProductId id, std::string_view hostOverride) {
    const ProductRow* row = findRow(id);
    if (!row) return {};
    if (!hostOverride.empty() && hostOverride.back() == '/') hostOverride.remove_suffix(1);
    const std::string_view host = hostOverride.empty() ? row->host : hostOverride;
    return std::string(host).append(row->path);
}

std::string productManualPage(ProductId id) {
    const ProductRow* row = findRow(id);
    if (!row) return {};
    const std::string_view override = buildconfig::kManualPageOverride;
    return std::string(override.empty() ? row->manualPage : override);
}
