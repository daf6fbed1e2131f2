#include "support/Log.h"

#include <string>

#include "support/Format.h"
#include "support/Handles.h"

WCHAR g_szLogPath[MAX_PATH];

namespace {

const WCHAR s_szLevelTags[LOG_LEVEL_COUNT][32] = {
    L"[Error]",
    L"[Normal]",
    L"[Normal2]",
    L"[Normal3]",
    L"[Normal4]",
    L"[Normal5]",
    L"[Warning]",
    L"[Warning2]",
    L"[Warning3]",
    L"[Warning4]",
    L"[Warning5]",
};

// Every record opens the file with no sharing; serialising the writers keeps one thread's record
// from finding the file busy while another thread appends.
SRWLOCK s_fileLock = SRWLOCK_INIT;

class CExclusiveLock {
public:
    explicit CExclusiveLock(SRWLOCK& lock)
        : m_lock(lock)
    {
        AcquireSRWLockExclusive(&m_lock);
    }
    ~CExclusiveLock() { ReleaseSRWLockExclusive(&m_lock); }
    CExclusiveLock(const CExclusiveLock&) = delete;
    CExclusiveLock& operator=(const CExclusiveLock&) = delete;

private:
    SRWLOCK& m_lock;
};

} // namespace

void LogError(const WCHAR* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    LogWriteV(LOG_LEVEL_ERROR, pszFormat, args);
    va_end(args);
}

void LogNormal(const WCHAR* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    LogWriteV(LOG_LEVEL_NORMAL, pszFormat, args);
    va_end(args);
}

void LogWriteV(int nLevel, const WCHAR* pszFormat, va_list args)
{
    if (nLevel < 0 || nLevel >= LOG_LEVEL_COUNT)
        return;

    SYSTEMTIME st;
    GetLocalTime(&st);
    WCHAR szTime[256] = {};
    WCHAR szDate[256] = {};
    GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, &st, nullptr, szTime, ARRAYSIZE(szTime));
    GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, &st, nullptr, szDate, ARRAYSIZE(szDate));
    DWORD dwThreadId = GetCurrentThreadId();
    DWORD dwProcessId = GetCurrentProcessId();

    std::wstring strRecord = FormatString(L"%s[%s %s:%3d %04x:%04x]", s_szLevelTags[nLevel], szDate, szTime,
        static_cast<int>(st.wMilliseconds), dwProcessId, dwThreadId);
    strRecord += FormatStringV(pszFormat, args);
    strRecord += L"\r\n";

    OutputDebugStringW(strRecord.c_str());
    AppendLogFile(g_szLogPath, strRecord.c_str());
}

void AppendLogFile(const WCHAR* pszPath, const WCHAR* pszText)
{
    if (pszPath == nullptr || pszPath[0] == L'\0' || pszText == nullptr || pszText[0] == L'\0')
        return;

    CExclusiveLock lock(s_fileLock);
    CFileHandle file(CreateFileW(pszPath, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    if (SetFilePointer(file.Get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return;
    DWORD cbText = static_cast<DWORD>(wcslen(pszText) * sizeof(WCHAR));
    DWORD cbWritten = 0;
    WriteFile(file.Get(), pszText, cbText, &cbWritten, nullptr);
}
