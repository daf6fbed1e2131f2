#include <gtest/gtest.h>
#include <windows.h>

#include "core/SetupOptions.h"

namespace {

TEST(SetupOptionsTest, SilentAndLaunchInAnyCaseAfterTheProgramName)
{
    struct Case {
        const WCHAR* pszLine;
        bool bSilent;
        bool bLaunch;
    } cases[] = {
        {L"MirevaleSetup.exe", false, false},
        {L"MirevaleSetup.exe /S", true, false},
        {L"MirevaleSetup.exe /s", true, false},
        {L"MirevaleSetup.exe /VerySilent", true, false},
        {L"\"C:\\Users\\a b\\Downloads\\MirevaleSetup.exe\" /S /LAUNCH", true, true},
        {L"MirevaleSetup.exe /launch /S", true, true},
        // The window run ignores /LAUNCH: it always starts the client.
        {L"MirevaleSetup.exe /LAUNCH", false, true},
        // Other arguments are ignored, and near misses are no switches.
        {L"MirevaleSetup.exe /Silent /SS S -S \"/S \" /D=C:\\x", false, false},
        {L"MirevaleSetup.exe --unknown /S extra", true, false},
        // The program's own name is never a switch, even when it reads like one.
        {L"/S", false, false},
        {L"", false, false},
    };
    for (const Case& c : cases) {
        SetupOptions options = ParseSetupOptions(c.pszLine);
        EXPECT_EQ(c.bSilent, options.bSilent) << testing::PrintToString(std::wstring(c.pszLine));
        EXPECT_EQ(c.bLaunch, options.bLaunch) << testing::PrintToString(std::wstring(c.pszLine));
    }
    EXPECT_FALSE(ParseSetupOptions(nullptr).bSilent);
}

} // namespace
