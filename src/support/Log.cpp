#include "support/Log.h"

#include <string>

#include "support/Format.h"
#include "support/Handles.h"
#include "support/RealPath.h"

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

// The log lies in a folder that other users may have made: it is appended to only when the handle
// holds a plain file of that name with no link on the way (neither a junction for the folder nor a
// link or second name for the file); it is made new when missing, never through a dangling link.
CFileHandle OpenLogFile(const WCHAR* pszPath)
{
    CFileHandle file(CreateFileW(pszPath, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file && GetLastError() == ERROR_FILE_NOT_FOUND)
        file = CreateFreshFile(pszPath, GENERIC_WRITE, 0);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!file || !GetFileInformationByHandle(file.Get(), &info) || info.nNumberOfLinks != 1
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0
        || !LeadsWhereItSays(file.Get(), pszPath))
        return CFileHandle();
    return file;
}

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
    CFileHandle file = OpenLogFile(pszPath);
    if (!file)
        return;
    if (SetFilePointer(file.Get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return;
    DWORD cbText = static_cast<DWORD>(wcslen(pszText) * sizeof(WCHAR));
    DWORD cbWritten = 0;
    WriteFile(file.Get(), pszText, cbText, &cbWritten, nullptr);
}
