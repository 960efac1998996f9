// libcurl's process-wide set-up for a test program, done once around all its tests as
// the application does around its whole life. Register it at namespace scope:
//   const auto* const kCurl = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);
#pragma once

#include <curl/curl.h>
#include <gtest/gtest.h>

class CurlEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(curl_global_init(CURL_GLOBAL_ALL), CURLE_OK); }
    void TearDown() override { curl_global_cleanup(); }
};
