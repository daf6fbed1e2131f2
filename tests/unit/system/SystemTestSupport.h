#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// Helpers for the system-integration tests, which work against the real registry, shell and
// processes of the shared Wine prefix and leave them as they found them.

// Points the diagnostic log at a fresh file for the life of the object.
class CTestLog {
public:
    CTestLog();
    ~CTestLog();
    CTestLog(const CTestLog&) = delete;
    CTestLog& operator=(const CTestLog&) = delete;

    std::wstring Text() const;
    // The text after the stamp of every record, in order.
    std::vector<std::wstring> Messages() const;

private:
    std::wstring m_strPath;
};

// One registry value: kept as it was when constructed and put back (or deleted again) on destruction.
class CSavedRegValue {
public:
    CSavedRegValue(HKEY hRoot, const std::wstring& strKey, const std::wstring& strName);
    ~CSavedRegValue();
    CSavedRegValue(const CSavedRegValue&) = delete;
    CSavedRegValue& operator=(const CSavedRegValue&) = delete;

    bool SetString(const std::wstring& strValue) const;
    bool SetRaw(DWORD dwType, const void* pData, DWORD cb) const;
    bool Delete() const;

private:
    HKEY m_hRoot;
    std::wstring m_strKey;
    std::wstring m_strName;
    bool m_bKeyExisted = false;
    std::optional<std::pair<DWORD, std::vector<BYTE>>> m_saved;
};

// A registry value as stored: type and raw bytes; nullopt when it is missing.
std::optional<std::pair<DWORD, std::vector<BYTE>>> ReadRegValue(
    HKEY hRoot, const std::wstring& strKey, const std::wstring& strName);

// File names in a folder (no "." and ".."), in the order the file system gives them.
std::vector<std::wstring> ListFolder(const std::wstring& strFolder, const std::wstring& strPattern = L"*");
