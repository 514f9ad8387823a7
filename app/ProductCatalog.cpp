#include "app/ProductCatalog.h"

#include <algorithm>

#include "websetup/BuildConfig.h"

namespace {

constexpr ProductCatalog kCatalog{{
    {1, "pixelorb", L"PixelOrb", L"pixel_orb", "https://downloads.pixelorb.example",
     "/app/download", "https://www.pixelorb.example/download"},
    {2, "vorabrowser", L"Vora Browser", L"vora_browser", "https://downloads.vorabrowser.example",
     "/distr/browser", "https://www.vorabrowser.example/download"},
    {3, "reelbox", L"Reel Box", L"reel_box", "https://downloads.reelbox.example", "/download_distr",
     "https://www.reelbox.example/download"},
    {4, "modfixer", L"MOD Fixer", L"mod_fixer", "https://downloads.modfixer.example",
     "/program/download.html", "https://www.modfixer.example/download"},
    {5, "wrnkit", L"WrenKit", L"wren_kit", "https://downloads.wrenkit.example", "/app/download",
     "https://www.wrenkit.example/download"},
    {6, "docscope", L"DocScope", L"doc_scope", "https://downloads.docscope.example",
     "/static/distr/doc_scope_setup.exe", "https://www.docscope.example/download"},
    {7, "glyphsafe", L"GlyphSafe", L"glyph_safe", "https://downloads.glyphsafe.example",
     "/programs/glyph_safe/download/windows", "https://www.glyphsafe.example/download"},
    {8, "typeyard", L"TypeYard", L"type_yard", "https://downloads.typeyard.example",
     "/programs/type_yard/download/windows", "https://www.typeyard.example/download"},
    {9, "paperturnix", L"Paper Turnix", L"paper_turnix", "https://downloads.paperturnix.example",
     "/static/distr/paper_turnix_setup.exe", "https://www.paperturnix.example/download"},
    {10, "clipfetch", L"ClipFetch", L"clip_fetch", "https://downloads.clipfetch.example",
     "/download/pure", "https://www.clipfetch.example/download"},
    {11, "soundturnix", L"Sound Turnix", L"sound_turnix", "https://downloads.soundturnix.example",
     "/static/distr/sound_turnix_setup.exe", "https://www.soundturnix.example/download"},
    {12, "orbitbrowser", L"Orbit Browser", L"orbit_browser",
     "https://downloads.orbitbrowser.example", "/static/distr/orbit_browser_setup.exe",
     "https://www.orbitbrowser.example/download"},
    {13, "vaulto", L"Vault-O", L"vault_o", "https://downloads.vaulto.example",
     "/static/distr/vault_o_setup.exe", "https://www.vaulto.example/download"},
    {14, "mira", L"Mira", L"mira", "https://downloads.mira.example", "/static/distr/mira_setup.exe",
     "https://www.mira.example/download"},
    {15, "cubestart", L"CubeStart", L"cubestart", "https://downloads.cubestart.example",
     "/download/cubestart_setup.exe", "https://www.cubestart.example/download"},
}};

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
