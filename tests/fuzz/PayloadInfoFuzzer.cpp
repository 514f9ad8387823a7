// Feeds arbitrary bytes as the end of a stamped executable through the
// settings-block reader and the decoding of every value it finds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/PayloadInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view window(reinterpret_cast<const char*>(data), size);
    PayloadInfo payload = parsePayloadInfo(window);
    if (!payload.empty() && !findPayloadMarker(window)) std::abort();
    while (!payload.empty()) {
        const std::string key = payload.begin()->first;
        if (key.empty()) std::abort();  // an item beginning with "=" is skipped
        (void)takeSetting(payload, key);
        if (payload.count(key) != 0) std::abort();
    }
    return 0;
}
