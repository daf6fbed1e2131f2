#include "Http.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace publish;

TEST(HttpUrl, TakesHttpAndHttpsWithOptionalPort)
{
    std::string error;
    for (const char* url : {"http://127.0.0.1:28480/EX/", "HTTP://example.org", "https://example.org/EX/",
             "https://[::1]:8443/EX/", "http://[::1]/EX/"})
        EXPECT_TRUE(IsHttpUrl(url, error)) << url << ": " << error;
    for (const auto& bad : std::vector<std::pair<std::string, std::string>> {
             {"ftp://example.org/EX/", "is not an http:// or https:// URL"},
             {"http://example.org:99999/EX/", "has a bad port"}, {"http://:80/EX/", "has no host"},
             {"https:///EX/", "has no host"}}) {
        EXPECT_FALSE(IsHttpUrl(bad.first, error)) << bad.first;
        EXPECT_EQ(error, bad.first + " " + bad.second);
    }
}

TEST(HttpRequest, PathsAreEscapedOnlyWhereNeeded)
{
    EXPECT_EQ(PercentEncodePath("/EX/core.zip"), "/EX/core.zip");
    EXPECT_EQ(PercentEncodePath("/EX/a b\xE8\xAF\xB4.zip"), "/EX/a%20b%E8%AF%B4.zip");
}
