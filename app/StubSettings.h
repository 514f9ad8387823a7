#pragma once

#include <string>
#include <vector>

#include "app/PayloadInfo.h"
#include "app/ProductCatalog.h"

// What one copy of the stub runs with: the build's product and the settings
// stamped onto this copy. Read once at start-up; the progress dialog, the
// setup worker and the installer launch read it afterwards without a lock.
struct StubSettings {
    std::string productKey;  // folded to lower case
    ProductId productId = 0;
    bool silentMode = false;  // the setting "silentMode" is exactly "true"
    std::wstring vid;
    std::wstring partnerId;
    std::wstring contentAddress;
    std::wstring contentType;
    std::wstring offerUrl;
    PayloadInfo payload;  // what is left after the six named settings, still encoded
    // Why each stamped setting the stub refused (storedValueProblem) was
    // dropped, one line each for the log; the setting counts as not stamped.
    std::vector<std::string> droppedSettings;
    // Why a build with a stamp key did not believe the stamped block, for
    // the log; empty when it did or when the build has none.
    std::string stampRefusal;

    // Drops the settings whose values the stub refuses, takes the six named
    // settings out of payload and resolves productKey, compared without
    // regard to the case of its ASCII letters. Throws
    // std::runtime_error "Invalid installer!" for a key the catalogue does not
    // know: start-up shows it before any window.
    static StubSettings read(std::string productKey, PayloadInfo payload);
};
