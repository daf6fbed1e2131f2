#include "SystemTestSupport.h"

#include "TestFiles.h"
#include "support/Handles.h"
#include "support/Log.h"

CTestLog::CTestLog()
    : m_strPath(MakeTempFolder(L"syslog") + L"\\log.txt")
{
    wcscpy(g_szLogPath, m_strPath.c_str());
}

CTestLog::~CTestLog()
{
    g_szLogPath[0] = L'\0';
}

std::wstring CTestLog::Text() const
{
    return Utf16(ReadFileBytes(m_strPath));
}

std::vector<std::wstring> CTestLog::Messages() const
{
    std::vector<std::wstring> messages;
    std::wstring strText = Text();
    size_t nStart = 0;
    for (size_t nEnd; (nEnd = strText.find(L"\r\n", nStart)) != std::wstring::npos; nStart = nEnd + 2) {
        std::wstring strLine = strText.substr(nStart, nEnd - nStart);
        // "[Level][date time:ms pid:tid]" comes first.
        size_t nStamp = strLine.find(L']', strLine.find(L']') + 1);
        messages.push_back(nStamp == std::wstring::npos ? strLine : strLine.substr(nStamp + 1));
    }
    return messages;
}

std::optional<std::pair<DWORD, std::vector<BYTE>>> ReadRegValue(
    HKEY hRoot, const std::wstring& strKey, const std::wstring& strName)
{
    CRegKey key;
    if (RegOpenKeyExW(hRoot, strKey.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD dwType = 0;
    DWORD cb = 0;
    if (RegQueryValueExW(key.Get(), strName.c_str(), nullptr, &dwType, nullptr, &cb) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<BYTE> data(cb);
    if (RegQueryValueExW(key.Get(), strName.c_str(), nullptr, &dwType, data.data(), &cb) != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(cb);
    return std::make_pair(dwType, std::move(data));
}

CSavedRegValue::CSavedRegValue(HKEY hRoot, const std::wstring& strKey, const std::wstring& strName)
    : m_hRoot(hRoot)
    , m_strKey(strKey)
    , m_strName(strName)
{
    CRegKey key;
    m_bKeyExisted = RegOpenKeyExW(hRoot, strKey.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
    m_saved = ReadRegValue(hRoot, strKey, strName);
}

CSavedRegValue::~CSavedRegValue()
{
    if (m_saved)
        SetRaw(m_saved->first, m_saved->second.data(), static_cast<DWORD>(m_saved->second.size()));
    else if (!m_bKeyExisted)
        RegDeleteKeyW(m_hRoot, m_strKey.c_str());
    else
        Delete();
}

bool CSavedRegValue::SetString(const std::wstring& strValue) const
{
    return SetRaw(REG_SZ, strValue.c_str(), static_cast<DWORD>((strValue.size() + 1) * sizeof(wchar_t)));
}

bool CSavedRegValue::SetRaw(DWORD dwType, const void* pData, DWORD cb) const
{
    CRegKey key;
    if (RegCreateKeyExW(m_hRoot, m_strKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(), nullptr)
        != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.Get(), m_strName.c_str(), 0, dwType, static_cast<const BYTE*>(pData), cb)
        == ERROR_SUCCESS;
}

bool CSavedRegValue::Delete() const
{
    CRegKey key;
    if (RegOpenKeyExW(m_hRoot, m_strKey.c_str(), 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS)
        return true;
    LSTATUS status = RegDeleteValueW(key.Get(), m_strName.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::vector<std::wstring> ListFolder(const std::wstring& strFolder, const std::wstring& strPattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW((strFolder + L"\\" + strPattern).c_str(), &data));
    if (!find)
        return names;
    do {
        std::wstring strName = data.cFileName;
        if (strName != L"." && strName != L"..")
            names.push_back(strName);
    } while (FindNextFileW(find.Get(), &data));
    return names;
}
