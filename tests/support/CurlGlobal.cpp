// Linked into every test program that drives libcurl: initialises it once
// for the process, before any test starts a thread, as the program itself
// does before its first request.
#include <curl/curl.h>
#include <gtest/gtest.h>

namespace {

class CurlGlobal : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(curl_global_init(CURL_GLOBAL_ALL), CURLE_OK); }
    void TearDown() override { curl_global_cleanup(); }
};

// gtest owns and deletes the registered environment.
[[maybe_unused]] const auto* const kCurlGlobal =
    ::testing::AddGlobalTestEnvironment(new CurlGlobal);

}  // namespace
