// Compiled twice (net/CMakeLists.txt): with WEBSETUP_TEST_CA_BUNDLE for test
// programs, without it for everything users run. Keeping the choice in a
// library of its own means no product program can end up trusting the test
// CA, and a test build needs no configure flag to reach the test servers.
#include "net/CurlTls.h"

#ifdef WEBSETUP_TEST_CA_BUNDLE
const char* trustedCaBundle() { return WEBSETUP_TEST_CA_BUNDLE; }
#else
#include "websetup/BuildConfig.h"

const char* trustedCaBundle() { return buildconfig::kCaBundle; }
#endif
