#pragma once

#include <curl/curl.h>

// Makes `handle` trust the CA bundle of a test or demo build, when the build
// names one; production builds name none and keep libcurl's default store.
// Verification itself is never relaxed. Every transfer calls this once after
// its other options.
CURLcode applyBuildTrustStore(CURL* handle);

// The CA bundle a program trusts instead of libcurl's default store, or an
// empty string for the default. Defined once per program, by the library that
// its link chose (net/CMakeLists.txt): a product program gets the build's
// WEBSETUP_CA_BUNDLE, a test program the local test servers' CA.
const char* trustedCaBundle();
