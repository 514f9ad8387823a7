#include "app/ProductCatalog.h"

#include <algorithm>

#include "websetup/BuildConfig.h"

namespace {

constexpr ProductCatalog kCatalog{{
    {1, "pixelorb", L"PixelOrb", L"pixel_orb", "https://get.pixelorb-app.com", "/app/download"},
    {2, "vorabrowser", L"Vora Browser", L"vora_browser", "https://vorabrowser-web.net",
     "/distr/browser"},
    {3, "reelbox", L"Reel Box", L"reel_box", "https://reelbox-player.com", "/download_distr"},
    {4, "modfixer", L"MOD Fixer", L"mod_fixer", "https://www.modfixer-tool.com",
     "/program/download.html"},
    {5, "wrnkit", L"WrenKit", L"wren_kit", "https://get.wrenkit-app.com", "/app/download"},
    {6, "docscope", L"DocScope", L"doc_scope", "https://docscope-reader.com",
     "/static/distr/doc_scope_setup.exe"},
    {7, "glyphsafe", L"GlyphSafe", L"glyph_safe", "https://www.glyphsafe-soft.com",
     "/programs/glyph_safe/download/windows"},
    {8, "typeyard", L"TypeYard", L"type_yard", "https://www.typeyard-soft.com",
     "/programs/type_yard/download/windows"},
    {9, "paperturnix", L"Paper Turnix", L"paper_turnix", "https://paperturnix-app.com",
     "/static/distr/paper_turnix_setup.exe"},
    {10, "clipfetch", L"ClipFetch", L"clip_fetch", "https://clipfetch-app.net", "/download/pure"},
    {11, "soundturnix", L"Sound Turnix", L"sound_turnix", "https://soundturnix-app.com",
     "/static/distr/sound_turnix_setup.exe"},
    {12, "orbitbrowser", L"Orbit Browser", L"orbit_browser", "https://orbitbrowser-web.com",
     "/static/distr/orbit_browser_setup.exe"},
    {13, "vaulto", L"Vault-O", L"vault_o", "https://vaulto-secure.com",
     "/static/distr/vault_o_setup.exe"},
    {14, "mira", L"Mira", L"mira", "https://mira-assistant-app.com",
     "/static/distr/mira_setup.exe"},
    {15, "cubestart", L"CubeStart", L"cubestart", "https://cubestart-home.com",
     "/download/cubestart_setup.exe"},
}};

const ProductRow* findRow(ProductId id) {
    if (id < 1 || id > static_cast<ProductId>(kCatalog.size())) return nullptr;
    return &kCatalog[static_cast<std::size_t>(id - 1)];
}

}  // namespace

const ProductCatalog& productCatalog() { return kCatalog; }

ProductId productIdFromKey(std::string_view key) {
    const auto found = std::find_if(kCatalog.begin(), kCatalog.end(),
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
