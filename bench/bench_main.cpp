// Times the installer's own stages in-process under Wine, one stage per run of the program, and reports
// the process's working set around each repetition (run by bench/run.sh, which compares them with
// curl, Info-ZIP unzip and a zlib CRC-32 pass on the same release).
//
//   download URL REPS               HttpDownload into a fresh 10 MiB block, as the install worker does
//   unzip ARCHIVE FOLDER REPS       CSetupDlg::UnZip into FOLDER (emptied before each repetition)
//   crc SETUP_FOLDER REPS           CSetupDlg::CheckFileCRC over SETUP_FOLDER, against the filecrc.txt
//                                   served at MIREVALE_BENCH_BASE_URL
// and, to tell Wine's share from the product's own, the platform calls alone:
//   wininet-ready URL REPS CHUNK    WinINet's read loop with CHUNK-byte reads into a reserved block
//   wininet-stepwise URL REPS CHUNK the same into a block grown by 1 MiB per overflow, no reservation
//   crc-plain LIST FOLDER REPS      CreateFile/ReadFile of each file in LIST (a filecrc.txt) and crc32
//   crc-plain-zeroed LIST FOLDER REPS  the same with the whole block zero-filled before each file
// and, for a body that breaks off (bench/resume.py):
//   attempts URL REPS RESUME        up to five HttpDownload attempts as the install worker makes them,
//                                   continuing a cut-off body (RESUME 1) or starting each anew (RESUME 0)
// and for a signed release:
//   sha256 FILE REPS                the CNG SHA-256 a signed release costs per body, over FILE read
//                                   into a block first
//
// One line of JSON per repetition on stdout.
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "app/Globals.h"
#include "core/SetupDlg.h"
#include "net/DownloadState.h"
#include "net/HttpDownload.h"
#include "support/Cng.h"

#include <zlib.h>

namespace {

std::wstring BaseUrlFromEnvironment()
{
    const wchar_t* psz = _wgetenv(L"MIREVALE_BENCH_BASE_URL");
    return psz != nullptr ? psz : L"http://127.0.0.1:28490/EX/";
}

const int START_BLOCK = 0xA00000; // the receive block the installer starts with (10 MiB)

struct Memory {
    unsigned long long workingSet;
    unsigned long long peakWorkingSet;
};

Memory ReadMemory()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return {counters.WorkingSetSize, counters.PeakWorkingSetSize};
}

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Report(const char* pszStage, int nRep, double dSeconds, bool bOk, long long llBytes, long long llCapacity,
    const Memory& before, const Memory& after)
{
    printf("{\"stage\": \"%s\", \"rep\": %d, \"ok\": %s, \"seconds\": %.6f, \"bytes\": %lld, \"capacity\": %lld, "
           "\"ws_before\": %llu, \"peak_before\": %llu, \"ws_after\": %llu, \"peak_after\": %llu}\n",
        pszStage, nRep, bOk ? "true" : "false", dSeconds, llBytes, llCapacity, before.workingSet, before.peakWorkingSet,
        after.workingSet, after.peakWorkingSet);
    fflush(stdout);
}

int Download(const wchar_t* pszUrl, int nReps)
{
    for (int nRep = 1; nRep <= nReps; ++nRep) {
        // A fresh zero-filled 10 MiB block each time, as the installer holds when the large package comes.
        BYTE* pBuffer = new (std::nothrow) BYTE[START_BLOCK]();
        if (pBuffer == nullptr)
            return 1;
        int nLength = 0;
        int nCapacity = START_BLOCK;
        WCHAR szUser[64] = {};
        WCHAR szPassword[64] = {};
        Memory before = ReadMemory();
        double dStart = Now();
        int nOk = HttpDownload(pszUrl, &pBuffer, &nLength, &nCapacity, szUser, szPassword, nullptr);
        double dSeconds = Now() - dStart;
        Memory after = ReadMemory();
        Report("download", nRep, dSeconds, nOk == 1, nLength, nCapacity, before, after);
        delete[] pBuffer;
        if (nOk != 1)
            return 1;
    }
    return 0;
}

int Attempts(const wchar_t* pszUrl, int nReps, bool bResume)
{
    for (int nRep = 1; nRep <= nReps; ++nRep) {
        BYTE* pBuffer = new (std::nothrow) BYTE[START_BLOCK]();
        if (pBuffer == nullptr)
            return 1;
        int nLength = 0;
        int nCapacity = START_BLOCK;
        WCHAR szUser[64] = {};
        WCHAR szPassword[64] = {};
        CDownloadState state;
        Memory before = ReadMemory();
        double dStart = Now();
        int nOk = 0;
        for (int nAttempt = 1; nOk == 0 && nAttempt <= 5; ++nAttempt) {
            if (!bResume || !state.CanResume(nLength)) {
                memset(pBuffer, 0, static_cast<size_t>(nLength));
                nLength = 0;
                state.Reset();
            }
            nOk = HttpDownload(
                pszUrl, &pBuffer, &nLength, &nCapacity, szUser, szPassword, nullptr, bResume ? &state : nullptr);
        }
        double dSeconds = Now() - dStart;
        Memory after = ReadMemory();
        Report("attempts", nRep, dSeconds, nOk == 1, nLength, nCapacity, before, after);
        delete[] pBuffer;
        if (nOk != 1)
            return 1;
    }
    return 0;
}

// WinINet alone, for comparison with HttpDownload: the same request and read loop with a chosen read size,
// either into a block reserved before the clock starts ("ready": what Wine's WinINet costs by itself) or
// into a block grown by 1 MiB per overflow with no reservation ("stepwise": each overflow allocates
// count + chunk + 1 MiB, zero-fills it and copies the old bytes, the behaviour before the reservation).
int WinInet(const wchar_t* pszUrl, int nReps, DWORD dwChunk, bool bStepwise)
{
    const long long llReady = 512LL * 1048576;
    for (int nRep = 1; nRep <= nReps; ++nRep) {
        long long llCapacity = bStepwise ? START_BLOCK : llReady;
        BYTE* pBuffer = new (std::nothrow) BYTE[static_cast<size_t>(llCapacity)]();
        BYTE* pChunk = new (std::nothrow) BYTE[dwChunk];
        if (pBuffer == nullptr || pChunk == nullptr)
            return 1;
        long long llLength = 0;
        Memory before = ReadMemory();
        double dStart = Now();
        bool bOk = false;
        HINTERNET hInternet = InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        HINTERNET hRequest = hInternet == nullptr
            ? nullptr
            : InternetOpenUrlW(hInternet, pszUrl, nullptr, 0, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 1);
        if (hRequest != nullptr) {
            for (;;) {
                DWORD dwRecv = 0;
                if (!InternetReadFile(hRequest, pChunk, dwChunk, &dwRecv))
                    break;
                if (dwRecv == 0) {
                    bOk = true;
                    break;
                }
                if (llLength + dwRecv > llCapacity) {
                    if (!bStepwise)
                        break;
                    long long llNew = llLength + dwRecv + 1048576;
                    BYTE* pNew = new (std::nothrow) BYTE[static_cast<size_t>(llNew)];
                    if (pNew == nullptr)
                        break;
                    memset(pNew, 0, static_cast<size_t>(llNew));
                    memcpy(pNew, pBuffer, static_cast<size_t>(llLength));
                    delete[] pBuffer;
                    pBuffer = pNew;
                    llCapacity = llNew;
                }
                memcpy(pBuffer + llLength, pChunk, dwRecv);
                llLength += dwRecv;
            }
            InternetCloseHandle(hRequest);
        }
        if (hInternet != nullptr)
            InternetCloseHandle(hInternet);
        double dSeconds = Now() - dStart;
        Memory after = ReadMemory();
        Report(
            bStepwise ? "wininet-stepwise" : "wininet-ready", nRep, dSeconds, bOk, llLength, llCapacity, before, after);
        delete[] pBuffer;
        delete[] pChunk;
        if (!bOk)
            return 1;
    }
    return 0;
}

int Unzip(const wchar_t* pszArchive, const wchar_t* pszFolder, int nReps)
{
    for (int nRep = 1; nRep <= nReps; ++nRep) {
        CSetupDlg::DeleteDirectory(pszFolder);
        Memory before = ReadMemory();
        double dStart = Now();
        BOOL bOk = CSetupDlg::UnZip(pszArchive, pszFolder);
        double dSeconds = Now() - dStart;
        Memory after = ReadMemory();
        Report("unzip", nRep, dSeconds, bOk != FALSE, 0, 0, before, after);
        if (!bOk)
            return 1;
    }
    return 0;
}

int CheckCrc(const wchar_t* pszSetupFolder, int nReps)
{
    for (int nRep = 1; nRep <= nReps; ++nRep) {
        // A new dialog object each time: the check starts from the installer's 10 MiB block.
        auto pDlg = std::make_unique<CSetupDlg>();
        wcsncpy(pDlg->m_szSetupPath, pszSetupFolder, MAX_PATH - 1);
        pDlg->m_szSetupPath[MAX_PATH - 1] = L'\0';
        Memory before = ReadMemory();
        double dStart = Now();
        BOOL bOk = pDlg->CheckFileCRC();
        double dSeconds = Now() - dStart;
        Memory after = ReadMemory();
        Report("crc", nRep, dSeconds, bOk != FALSE, 0, pDlg->m_nRecvBufSize, before, after);
        if (!bOk)
            return 1;
    }
    return 0;
}

// Win32 file reads and zlib's CRC-32 alone, for comparison with CheckFileCRC: every file named in a local
// filecrc.txt read whole into one block (grown to the largest file, like the check's), optionally
// zero-filled over its whole size before each file as GetFileCRC does; no log records.
int PlainCrc(const wchar_t* pszList, const wchar_t* pszSetupFolder, int nReps, bool bZero)
{
    HANDLE hList = CreateFileW(pszList, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hList == INVALID_HANDLE_VALUE)
        return 1;
    std::string strBytes(GetFileSize(hList, nullptr), '\0');
    DWORD cbRead = 0;
    ReadFile(hList, &strBytes[0], static_cast<DWORD>(strBytes.size()), &cbRead, nullptr);
    CloseHandle(hList);
    std::wstring strList(reinterpret_cast<const wchar_t*>(strBytes.data() + 2), (strBytes.size() - 2) / 2);

    for (int nRep = 1; nRep <= nReps; ++nRep) {
        long long llCapacity = START_BLOCK;
        BYTE* pBuffer = new (std::nothrow) BYTE[START_BLOCK]();
        if (pBuffer == nullptr)
            return 1;
        bool bOk = true;
        Memory before = ReadMemory();
        double dStart = Now();
        size_t nPos = 0;
        while (bOk && nPos < strList.size()) {
            size_t nEnd = strList.find(L"\r\n", nPos);
            if (nEnd == std::wstring::npos)
                nEnd = strList.size();
            std::wstring strLine = strList.substr(nPos, nEnd - nPos);
            nPos = nEnd + 2;
            size_t nSep = strLine.find(L';');
            if (nSep == std::wstring::npos)
                continue;
            unsigned long ulWant = wcstoul(strLine.c_str() + nSep + 1, nullptr, 10);
            std::wstring strPath = std::wstring(pszSetupFolder) + L"\\" + strLine.substr(0, nSep);
            HANDLE hFile = CreateFileW(
                strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (hFile == INVALID_HANDLE_VALUE) {
                bOk = false;
                break;
            }
            LARGE_INTEGER size = {};
            GetFileSizeEx(hFile, &size);
            if (size.QuadPart > llCapacity) {
                delete[] pBuffer;
                llCapacity = size.QuadPart + 10;
                pBuffer = new (std::nothrow) BYTE[static_cast<size_t>(llCapacity)];
                if (pBuffer == nullptr)
                    return 1;
            }
            if (bZero)
                memset(pBuffer, 0, static_cast<size_t>(llCapacity));
            DWORD cbFile = 0;
            ReadFile(hFile, pBuffer, static_cast<DWORD>(size.QuadPart), &cbFile, nullptr);
            CloseHandle(hFile);
            bOk = cbFile == size.QuadPart && crc32(0L, pBuffer, cbFile) == ulWant;
        }
        double dSeconds = Now() - dStart;
        Memory after = ReadMemory();
        Report(bZero ? "crc-plain-zeroed" : "crc-plain", nRep, dSeconds, bOk, 0, llCapacity, before, after);
        delete[] pBuffer;
        if (!bOk)
            return 1;
    }
    return 0;
}

int HashFile(const wchar_t* pszFile, int nReps)
{
    HANDLE hFile = CreateFileW(pszFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size = {};
    if (hFile == INVALID_HANDLE_VALUE || !GetFileSizeEx(hFile, &size))
        return 1;
    std::unique_ptr<BYTE[]> pBuffer(new (std::nothrow) BYTE[static_cast<size_t>(size.QuadPart)]);
    DWORD cbRead = 0;
    bool bRead = pBuffer && ReadFile(hFile, pBuffer.get(), static_cast<DWORD>(size.QuadPart), &cbRead, nullptr)
        && cbRead == size.QuadPart;
    CloseHandle(hFile);
    for (int nRep = 1; bRead && nRep <= nReps; ++nRep) {
        BYTE digest[SHA256_DIGEST_BYTES];
        Memory before = ReadMemory();
        double dStart = Now();
        NTSTATUS status = Sha256(pBuffer.get(), cbRead, digest);
        double dSeconds = Now() - dStart;
        Report("sha256", nRep, dSeconds, BCRYPT_SUCCESS(status), cbRead, 0, before, ReadMemory());
    }
    return bRead ? 0 : 1;
}

} // namespace

const std::wstring g_strBaseUrl = BaseUrlFromEnvironment();
const std::vector<std::wstring> g_vecMirrorUrls;
const std::wstring g_strReleaseKey;

int wmain(int argc, wchar_t** argv)
{
    const std::wstring strStage = argc > 1 ? argv[1] : L"";
    if (strStage == L"download" && argc == 4)
        return Download(argv[2], _wtoi(argv[3]));
    if (strStage == L"attempts" && argc == 5)
        return Attempts(argv[2], _wtoi(argv[3]), _wtoi(argv[4]) != 0);
    if ((strStage == L"wininet-ready" || strStage == L"wininet-stepwise") && argc == 5)
        return WinInet(argv[2], _wtoi(argv[3]), static_cast<DWORD>(_wtoi(argv[4])), strStage == L"wininet-stepwise");
    if (strStage == L"unzip" && argc == 5)
        return Unzip(argv[2], argv[3], _wtoi(argv[4]));
    if (strStage == L"crc" && argc == 4)
        return CheckCrc(argv[2], _wtoi(argv[3]));
    if ((strStage == L"crc-plain" || strStage == L"crc-plain-zeroed") && argc == 5)
        return PlainCrc(argv[2], argv[3], _wtoi(argv[4]), strStage == L"crc-plain-zeroed");
    if (strStage == L"sha256" && argc == 4)
        return HashFile(argv[2], _wtoi(argv[3]));
    fprintf(stderr,
        "usage: mirevale_bench.exe download URL REPS | attempts URL REPS RESUME | unzip ARCHIVE FOLDER REPS\n"
        "       | crc SETUP_FOLDER REPS\n"
        "       | wininet-ready|wininet-stepwise URL REPS CHUNK\n"
        "       | crc-plain|crc-plain-zeroed FILECRC_TXT SETUP_FOLDER REPS | sha256 FILE REPS\n");
    return 2;
}
