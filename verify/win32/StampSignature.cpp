#include "verify/StampSignature.h"

// The Windows stub has no Ed25519 of its own yet; the build refuses a stamp
// key for Windows, and should a check be asked for all the same, no block is
// believed.
StampSignatureCheck checkStampSignature(std::string_view, const std::string&, const std::string&) {
    return {{}, {}, "this Windows build cannot check signed settings blocks"};
}
