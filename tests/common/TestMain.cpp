#include <gtest/gtest.h>

#include <cstdlib>

#include "app/Globals.h"

// The tests point the download base URL at the servers they start (MIREVALE_TEST_BASE_URL).
static std::wstring TestBaseUrl()
{
    const wchar_t* psz = _wgetenv(L"MIREVALE_TEST_BASE_URL");
    return psz != nullptr ? psz : L"http://127.0.0.1:9/EX/";
}

const std::wstring g_strBaseUrl = TestBaseUrl();

// Mirrors after it (MIREVALE_TEST_MIRRORS, blank between two URLs).
static std::vector<std::wstring> TestMirrorUrls()
{
    const wchar_t* psz = _wgetenv(L"MIREVALE_TEST_MIRRORS");
    return SplitMirrorUrls(psz != nullptr ? psz : L"");
}

const std::vector<std::wstring> g_vecMirrorUrls = TestMirrorUrls();

// Signed mode when the test gives a key (MIREVALE_TEST_RELEASE_KEY), so that one build runs both.
static std::wstring TestReleaseKey()
{
    const wchar_t* psz = _wgetenv(L"MIREVALE_TEST_RELEASE_KEY");
    return psz != nullptr ? psz : L"";
}

const std::wstring g_strReleaseKey = TestReleaseKey();

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
