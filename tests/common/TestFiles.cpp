#include "TestFiles.h"

std::wstring MakeTempFolder(const std::wstring& strTag)
{
    static LONG s_nCounter = 0;
    WCHAR szTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, szTemp);
    for (;;) {
        std::wstring strFolder = std::wstring(szTemp) + L"mirevale-" + strTag + L"-"
            + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(InterlockedIncrement(&s_nCounter));
        if (CreateDirectoryW(strFolder.c_str(), nullptr))
            return strFolder;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::wstring();
    }
}

std::vector<BYTE> ReadFileBytes(const std::wstring& strPath)
{
    std::vector<BYTE> bytes;
    HANDLE h = CreateFileW(
        strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return bytes;
    LARGE_INTEGER size;
    if (GetFileSizeEx(h, &size) && size.QuadPart > 0) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD cbRead = 0;
        ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &cbRead, nullptr);
        bytes.resize(cbRead);
    }
    CloseHandle(h);
    return bytes;
}

bool WriteFileBytes(const std::wstring& strPath, const void* pData, size_t cb)
{
    HANDLE h = CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD cbWritten = 0;
    BOOL bOk = WriteFile(h, pData, static_cast<DWORD>(cb), &cbWritten, nullptr);
    CloseHandle(h);
    return bOk && cbWritten == cb;
}

std::wstring Utf16(const std::vector<BYTE>& bytes)
{
    std::wstring str(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < str.size(); ++i)
        str[i] = static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return str;
}

std::string Narrow(const std::wstring& str)
{
    int cb = WideCharToMultiByte(CP_UTF8, 0, str.c_str(), static_cast<int>(str.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, str.c_str(), static_cast<int>(str.size()), out.data(), cb, nullptr, nullptr);
    return out;
}
