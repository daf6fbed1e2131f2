#include <zlib.h>

#include <climits>
#include <cstring>
#include <new>

#include "app/Globals.h"
#include "core/SetupDlg.h"
#include "core/rules/ServedLists.h"
#include "core/rules/Text.h"
#include "support/Format.h"
#include "support/Handles.h"
#include "support/Log.h"
#include "support/WideText.h"

BOOL CSetupDlg::CheckFileCRC()
{
    LogNormal(L"[CSetupDlg::Execute] filecrc.txt-url = %sfilecrc.txt", g_strBaseUrl.c_str());
    bool bRefused = false;
    bool bDownloaded = FetchReleaseFile(L"filecrc.txt", bRefused);
    if (!bDownloaded && bRefused) {
        RefuseRelease();
        return FALSE;
    }
    if (!bDownloaded || m_nRecvLen < 3) {
        LogError(L"[CSetupDlg::CheckFileCRC] download filecrc.txt failed");
        return FALSE;
    }

    // Copied out before GetFileCRC reuses the buffer for the files.
    std::wstring strText = FromU16(DecodeServedText(m_pRecvBuf, static_cast<size_t>(m_nRecvLen)));
    LogNormal(L"[CSetupDlg::CheckFileCRC] filecrc content %s", strText.c_str());
    if (strText.empty()) {
        LogError(L"[CSetupDlg::CheckFileCRC]filecrc.txt no content");
        return FALSE;
    }

    for (const CrcListLine& line : ParseCrcList(ToU16(strText))) {
        if (StopRequested())
            return FALSE;
        if (line.nCrc == 0)
            continue;
        const std::wstring strName = FromU16(line.strName);
        const DWORD dwNet = line.nCrc;
        DWORD dwLocal = GetFileCRC(strName.c_str());
        LogNormal(L"[CSetupDlg::CheckFileCRC] %s loacalCRC=%lu, netCRC=%lu", strName.c_str(), dwLocal, dwNet);
        if (dwLocal == 0) {
            LogError(L"[CSetupDlg::CheckFileCRC] %s GetCRC error", strName.c_str());
            return FALSE;
        }
        if (dwLocal != dwNet) {
            LogError(L"[CSetupDlg::CheckFileCRC] %s CRC is not equal", strName.c_str());
            return FALSE;
        }
    }
    return TRUE;
}

DWORD CSetupDlg::GetFileCRC(const WCHAR* pszName)
{
    if (pszName == nullptr || pszName[0] == L'\0')
        return 0;
    WCHAR szPath[MAX_PATH];
    if (!Format(szPath, ARRAYSIZE(szPath), L"%s\\%s", m_szSetupPath, pszName)) {
        LogError(L"[CSetupDlg::GetFileCRC] path too long name=%s", pszName);
        return 0;
    }
    CFileHandle file(
        CreateFileW(szPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        LogError(L"[CSetupDlg::GetFileCRC] open %s failed", szPath);
        return 0;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0) {
        LogError(L"[CSetupDlg::GetFileCRC] %s size=%d", szPath, 0);
        return 0;
    }
    // The buffer size is an int and the block holds the file plus 10 bytes: a larger file cannot be
    // held at all.
    if (size.QuadPart > INT_MAX - 10) {
        LogError(L"[CAutoSetupDlg::GetFileCRC] new buffer failed");
        return 0;
    }
    int nLength = static_cast<int>(size.QuadPart);
    if (nLength > m_nRecvBufSize || m_pRecvBuf == nullptr) {
        BYTE* pNew = new (std::nothrow) BYTE[nLength + 10];
        if (pNew == nullptr) {
            LogError(L"[CAutoSetupDlg::GetFileCRC] new buffer failed");
            return 0;
        }
        delete[] m_pRecvBuf;
        m_pRecvBuf = pNew;
        m_nRecvBufSize = nLength + 10;
        memset(m_pRecvBuf, 0, static_cast<size_t>(m_nRecvBufSize));
        m_nRecvUsed = 0;
    } else {
        ClearRecvBuffer();
    }
    NoteRecvBufferUse(nLength);

    DWORD cbRead = 0;
    if (!ReadFile(file.Get(), m_pRecvBuf, static_cast<DWORD>(nLength), &cbRead, nullptr)
        || cbRead != static_cast<DWORD>(nLength)) {
        LogError(L"[CSetupDlg::GetFileCRC] read %s failed", szPath);
        return 0;
    }
    return crc32(0L, m_pRecvBuf, static_cast<uInt>(nLength));
}
