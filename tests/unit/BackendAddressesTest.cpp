#include "backend/UrlReference.h"
#include "unit/AppFixture.h"

#include <gtest/gtest.h>

namespace quorvel::testing {
namespace {

class BackendAddressesTest : public AppFixture {};

TEST_F(BackendAddressesTest, BaseAndApiAddressesForBothBackends) {
    makeApp(true);
    EXPECT_EQ(app->appBaseURL(), "http://203.0.113.10");
    EXPECT_EQ(app->apiURL("/api/desktop-notifications/pending"),
              "http://203.0.113.10/api/desktop-notifications/pending");

    makeApp(false);
    EXPECT_EQ(app->localURL(), "http://127.0.0.1:45721");
    EXPECT_EQ(app->appBaseURL(), "http://127.0.0.1:45721");
    EXPECT_EQ(app->apiURL("/api/quotes/sync"), "http://127.0.0.1:45721/api/quotes/sync");
    EXPECT_EQ(app->apiURL("/api/desktop-notifications/pending?since=3&x=a%20b"),
              "http://127.0.0.1:45721/api/desktop-notifications/pending?since=3&x=a%20b");
}

TEST_F(BackendAddressesTest, PathsThatFormNoUrlYieldNoValue) {
    makeApp(false);
    EXPECT_EQ(app->apiURL("/api/desktop-notifications/a b/mark-notified"), std::nullopt);
    EXPECT_EQ(app->apiURL("/api/desktop-notifications/提醒/mark-notified"), std::nullopt);
    EXPECT_EQ(app->apiURL("/api/x%zz"), std::nullopt);
    EXPECT_EQ(app->apiURL("/api/x%4"), std::nullopt);
    EXPECT_EQ(app->apiURL(std::string("/api/\0x", 7)), std::nullopt);
}

TEST(UrlReferenceTest, ResolvesReferencesAsTheStandardSays) {
    const std::string base = "http://a/b/c/d;p?q";
    // Examples of RFC 3986, section 5.4.
    const std::pair<const char*, const char*> examples[] = {
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q#s"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {"..g", "http://a/b/c/..g"},
        {"./g/.", "http://a/b/c/g/"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"g:h", "g:h"},
        {"http:g", "http:g"},
    };
    for (const auto& [reference, expected] : examples) {
        EXPECT_EQ(resolveUrlReference(base, reference), expected) << reference;
    }
    // Against a base without a path, a dot-segment cannot climb above the root.
    EXPECT_EQ(resolveUrlReference("http://127.0.0.1:45721", "/api/../../quotes/sync"),
              "http://127.0.0.1:45721/quotes/sync");
    EXPECT_EQ(resolveUrlReference("no-scheme", "/api"), std::nullopt);
}

} // namespace
} // namespace quorvel::testing
