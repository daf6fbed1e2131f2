#pragma once
#include <windows.h>

#include <cwctype>
#include <string>

// Shared between the stand-in client (system_client_stub.exe, copied as iQorRemote.exe) and the tests
// that start it. The stub belongs to the folder it runs from: it writes its marker there and uses
// events named after that folder, so copies in different folders never meet.

// "<folder>\client-stub.txt": the stub's process id and working folder, UTF-16LE, one per line (CR LF).
inline std::wstring StubMarkerPath(const std::wstring& strFolder)
{
    return strFolder + L"\\client-stub.txt";
}

// Kernel object names may not hold backslashes; letter case is dropped because the same folder may be
// spelled differently by the test and by the started program.
inline std::wstring StubEventName(const std::wstring& strFolder, const wchar_t* pszKind)
{
    std::wstring strName = std::wstring(L"MirevaleClientStub") + pszKind + L"-";
    for (wchar_t ch : strFolder)
        strName += ch == L'\\' ? L'/' : static_cast<wchar_t>(towlower(ch));
    return strName;
}
inline std::wstring StubReadyEvent(const std::wstring& strFolder)
{
    return StubEventName(strFolder, L"Ready");
}
inline std::wstring StubExitEvent(const std::wstring& strFolder)
{
    return StubEventName(strFolder, L"Exit");
}
