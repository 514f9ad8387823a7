#include "app/ProductCatalog.h"

#include <algorithm>

#include "websetup/BuildConfig.h"

namespace {

constexpr ProductCatalog kCatalog{{
    {1, "pixelorb", u"PixelOrb", u"pixel_orb", "https://get.pixelorb-app.com", "/app/download"},
    {2, "vorabrowser", u"Vora Browser", u"vora_browser", "https://vorabrowser-web.net",
     "/distr/browser"},
    {3, "reelbox", u"Reel Box", u"reel_box", "https://reelbox-player.com", "/download_distr"},
    {4, "modfixer", u"MOD Fixer", u"mod_fixer", "https://www.modfixer-tool.com",
     "/program/download.html"},
    {5, "wrnkit", u"WrenKit", u"wren_kit", "https://get.wrenkit-app.com", "/app/download"},
    {6, "docscope", u"DocScope", u"doc_scope", "https://docscope-reader.com",
     "/static/distr/doc_scope_setup.exe"},
    {7, "glyphsafe", u"GlyphSafe", u"glyph_safe", "https://www.glyphsafe-soft.com",
     "/programs/glyph_safe/download/windows"},
    {8, "typeyard", u"TypeYard", u"type_yard", "https://www.typeyard-soft.com",
     "/programs/type_yard/download/windows"},
    {9, "paperturnix", u"Paper Turnix", u"paper_turnix", "https://paperturnix-app.com",
     "/static/distr/paper_turnix_setup.exe"},
    {10, "clipfetch", u"ClipFetch", u"clip_fetch", "https://clipfetch-app.net", "/download/pure"},
    {11, "soundturnix", u"Sound Turnix", u"sound_turnix", "https://soundturnix-app.com",
     "/static/distr/sound_turnix_setup.exe"},
    {12, "orbitbrowser", u"Orbit Browser", u"orbit_browser", "https://orbitbrowser-web.com",
     "/static/distr/orbit_browser_setup.exe"},
    {13, "vaulto", u"Vault-O", u"vault_o", "https://vaulto-secure.com",
     "/static/distr/vault_o_setup.exe"},
    {14, "mira", u"Mira", u"mira", "https://mira-assistant-app.com",
     "/static/distr/mira_setup.exe"},
    {15, "cubestart", u"CubeStart", u"cubestart", "https://cubestart-home.com",
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

std::u16string productDisplayName(ProductId id) {
    const ProductRow* row = findRow(id);
    return row ? std::u16string(row->displayName) : std::u16string();
}

std::u16string productFileStem(ProductId id) {
    const ProductRow* row = findRow(id);
    return row ? std::u16string(row->fileStem) : std::u16string();
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
