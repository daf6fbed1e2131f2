#include "Http.h"

#include <gtest/gtest.h>

using namespace publish;

TEST(HttpUrl, TakesPlainHttpWithOptionalPort)
{
    HttpUrl url;
    std::string error;
    ASSERT_TRUE(ParseHttpUrl("http://127.0.0.1:28480/EX/", url, error)) << error;
    EXPECT_EQ(url.host, "127.0.0.1");
    EXPECT_EQ(url.port, 28480);
    EXPECT_EQ(url.path, "/EX/");
    ASSERT_TRUE(ParseHttpUrl("HTTP://example.org", url, error)) << error;
    EXPECT_EQ(url.port, 80);
    EXPECT_EQ(url.path, "/");
    EXPECT_FALSE(ParseHttpUrl("https://example.org/EX/", url, error));
    EXPECT_FALSE(ParseHttpUrl("http://example.org:99999/EX/", url, error));
    EXPECT_FALSE(ParseHttpUrl("http://:80/EX/", url, error));
}

TEST(HttpResponse, ReadsEachWayABodyCanEnd)
{
    int status = 0;
    std::string body, error;
    ASSERT_TRUE(ParseHttpResponse("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", status, body, error));
    EXPECT_EQ(status, 200);
    EXPECT_EQ(body, "abc");
    ASSERT_TRUE(ParseHttpResponse(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\nA;x=1\r\n0123456789\r\n0\r\n\r\n", status,
        body, error))
        << error;
    EXPECT_EQ(body, "abc0123456789");
    ASSERT_TRUE(ParseHttpResponse("HTTP/1.0 404 Not Found\r\nServer: x\r\n\r\ngone", status, body, error));
    EXPECT_EQ(status, 404);
    EXPECT_EQ(body, "gone");
}

TEST(HttpResponse, RefusesCutBodies)
{
    int status = 0;
    std::string body, error;
    EXPECT_FALSE(ParseHttpResponse("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", status, body, error));
    EXPECT_FALSE(
        ParseHttpResponse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", status, body, error));
    EXPECT_FALSE(ParseHttpResponse("garbage", status, body, error));
}

TEST(HttpRequest, PathsAreEscapedOnlyWhereNeeded)
{
    EXPECT_EQ(PercentEncodePath("/EX/core.zip"), "/EX/core.zip");
    EXPECT_EQ(PercentEncodePath("/EX/a b\xE8\xAF\xB4.zip"), "/EX/a%20b%E8%AF%B4.zip");
}
