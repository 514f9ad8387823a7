#pragma once

#include <curl/curl.h>

// Makes `handle` trust the CA bundle of a test or demo build, when the build
// names one; production builds name none and keep libcurl's default store.
// Verification itself is never relaxed. Every transfer calls this once after
// its other options.
CURLcode applyBuildTrustStore(CURL* handle);
