#include <gtest/gtest.h>

#include "net/DownloadState.h"

namespace {

const WCHAR DATE[] = L"Tue, 01 Dec 2026 10:00:00 GMT";

TEST(DownloadStateTest, ValidatorIsAStrongETagElseLastModified)
{
    WCHAR sz[40];
    ASSERT_TRUE(ChooseValidator(L"\"5f-1a\"", DATE, sz, ARRAYSIZE(sz)));
    EXPECT_STREQ(L"\"5f-1a\"", sz);
    ASSERT_TRUE(ChooseValidator(L"W/\"5f-1a\"", DATE, sz, ARRAYSIZE(sz))) << "a weak ETag never matches a range";
    EXPECT_STREQ(DATE, sz);
    EXPECT_FALSE(ChooseValidator(L"W/\"5f-1a\"", L"", sz, ARRAYSIZE(sz)));
    EXPECT_FALSE(ChooseValidator(L"\"a\"\r\nX-Other: b", L"", sz, ARRAYSIZE(sz))) << "no header slips in";
    EXPECT_FALSE(ChooseValidator(L"\"0123456789\"", L"", sz, 8)) << "too long to carry";
}

TEST(DownloadStateTest, ContentRangeCarriesExactlyTheRest)
{
    EXPECT_TRUE(ContinuesBody(L"bytes 400-999/1000", 400, 1000));
    EXPECT_TRUE(ContinuesBody(L"BYTES 0-0/1", 0, 1));
    for (const WCHAR* psz : {L"bytes 401-999/1000", L"bytes 400-998/1000", L"bytes 400-1000/1001", L"bytes 400-999/*",
             L"bytes */1000", L"bytes 400-999/1000 ", L"", L"bytes 400-99999999999/1000", L"400-999/1000"})
        EXPECT_FALSE(ContinuesBody(psz, 400, 1000)) << psz;
    EXPECT_FALSE(ContinuesBody(nullptr, 400, 1000));
}

TEST(DownloadStateTest, ContinuesOnlyAPartOfAKnownBodyWithAValidator)
{
    CDownloadState state;
    EXPECT_FALSE(state.CanResume(10));
    state.BeginBody(4, L"\"e\"", L"", true, 100);
    EXPECT_FALSE(state.CanResume(4)) << "nothing held";
    EXPECT_TRUE(state.CanResume(5));
    EXPECT_EQ(99u, state.Held(103));
    EXPECT_TRUE(state.CanResume(103));
    EXPECT_FALSE(state.CanResume(104)) << "all of it held";
    state.BeginBody(0, L"", L"", true, 100);
    EXPECT_FALSE(state.CanResume(50)) << "no validator";
    state.BeginBody(0, L"\"e\"", L"", false, 0);
    EXPECT_FALSE(state.CanResume(50)) << "no declared length";

    WCHAR szHeaders[64];
    ASSERT_TRUE(FormatResumeHeaders(szHeaders, ARRAYSIZE(szHeaders), 5000, L"\"e\""));
    EXPECT_STREQ(L"Range: bytes=5000-\r\nIf-Range: \"e\"\r\n", szHeaders);
}

} // namespace
