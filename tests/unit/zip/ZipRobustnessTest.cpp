#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <iostream>
#include <random>
#include <thread>

#include "TestFiles.h"
#include "ZipBuilder.h"
#include "ZipTestSupport.h"
#include "core/SetupDlg.h"
#include "support/Log.h"

namespace {

// Every hostile name carries this token, so that a file written anywhere outside the target can be
// recognised by its name.
const char ESCAPE_TOKEN[] = "zz-escape";
const WCHAR ESCAPE_TOKEN_W[] = L"zz-escape";

std::string PickName(std::mt19937& rng)
{
    static const char* const rgHostile[] = {"../zz-escape.dll", "..\\..\\zz-escape.dll", "C:/zz-escape.dll",
        "C:\\zz-escape.dll", "/zz-escape.dll", "\\\\zz-escape.dll", "a/../../zz-escape.dll", "..././zz-escape.dll",
        ".../zz-escape.dll", "a/.../../zz-escape.dll", ". ./zz-escape.dll", ".. /zz-escape.dll", "CON", "nul.zz-escape",
        "COM1", "aux/zz-escape", "LPT1.zz-escape", "zz-escape:stream", "x:zz-escape", "zz-escape.", "zz-escape ",
        "sub/zz-escape/", "Z:/tmp/zz-escape", "\\\\?\\C:\\zz-escape", "\\\\.\\C:\\zz-escape", "a\\..\\..\\zz-escape",
        "a/./../../zz-escape", "zz-escape\\..\\..\\x"};
    static const char* const rgPlain[] = {"a.dll", "sub/b.txt", "sub\\c.txt", "docs/", "bin/x.exe", "\xd6\xd0.txt"};
    switch (rng() % 6) {
    case 0:
    case 1:
        return rgHostile[rng() % (sizeof(rgHostile) / sizeof(rgHostile[0]))];
    case 2:
        return rgPlain[rng() % (sizeof(rgPlain) / sizeof(rgPlain[0]))];
    case 3: { // deep paths, some of them beyond every limit
        std::string str;
        size_t nDepth = 1 + rng() % 140;
        for (size_t i = 0; i < nDepth; ++i)
            str += (rng() % 4 == 0) ? "../" : "d/";
        return str + ESCAPE_TOKEN;
    }
    case 4: { // random bytes around the token
        std::string str;
        size_t n = rng() % 12;
        for (size_t i = 0; i < n; ++i)
            str.push_back(static_cast<char>(rng() % 256));
        return str + ESCAPE_TOKEN;
    }
    default:
        return std::string(1 + rng() % 320, 'L') + ESCAPE_TOKEN;
    }
}

std::string RandomData(std::mt19937& rng)
{
    size_t n = (rng() % 8 == 0) ? rng() % 40000 : rng() % 600;
    std::string str(n, '\0');
    bool bText = rng() % 2 == 0;
    for (char& ch : str)
        ch = static_cast<char>(bText ? 'a' + rng() % 4 : rng() % 256);
    return str;
}

ZipEntry RandomEntry(std::mt19937& rng)
{
    ZipEntry entry
        = rng() % 3 == 0 ? StoredEntry(PickName(rng), RandomData(rng)) : DeflatedEntry(PickName(rng), RandomData(rng));
    if (rng() % 2 == 0) {
        entry.wMadeBy = static_cast<WORD>((rng() % 20) << 8 | 30);
        entry.dwExternal = static_cast<DWORD>(rng());
    }
    if (rng() % 4 == 0)
        entry.strLocalExtra = UtBlock(static_cast<BYTE>(rng() % 8), {static_cast<DWORD>(rng()), 0x7FFFFFFF});
    if (rng() % 10 == 0)
        entry.wFlags = static_cast<WORD>(rng() % 16);
    if (rng() % 10 == 0)
        entry.wMethod = static_cast<WORD>(rng() % 100);
    if (rng() % 10 == 0)
        entry.wDosDate = static_cast<WORD>(rng());
    return entry;
}

void Patch32(std::string& str, size_t nAt, DWORD dw)
{
    for (int i = 0; i < 4 && nAt + i < str.size(); ++i)
        str[nAt + i] = static_cast<char>(dw >> (8 * i));
}

std::string RandomArchive(std::mt19937& rng)
{
    std::vector<ZipEntry> vecEntries;
    size_t nEntries = rng() % 6;
    for (size_t i = 0; i < nEntries; ++i)
        vecEntries.push_back(RandomEntry(rng));
    std::string strZip = BuildZip(vecEntries);
    if (strZip.empty())
        return strZip;

    static const DWORD rgAbsurd[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFF, 0x10000};
    size_t nMutations = rng() % 4;
    for (size_t i = 0; i < nMutations; ++i) {
        switch (rng() % 5) {
        case 0: // bit flips
            for (size_t n = 1 + rng() % 8; n > 0; --n)
                strZip[rng() % strZip.size()] ^= static_cast<char>(1 << (rng() % 8));
            break;
        case 1: // truncation
            strZip.resize(rng() % strZip.size());
            if (strZip.empty())
                return strZip;
            break;
        case 2: { // an absurd size, count, offset or length in some header
            size_t nAt = rng() % strZip.size();
            size_t nHeader = strZip.rfind("PK", nAt);
            if (nHeader != std::string::npos)
                Patch32(strZip, nHeader + 4 * (1 + rng() % 7), rgAbsurd[rng() % 7]);
            break;
        }
        case 3: // garbage appended or prepended
            if (rng() % 2 == 0)
                strZip += std::string(rng() % 200, static_cast<char>(rng()));
            else
                strZip.insert(0, std::string(rng() % 200, static_cast<char>(rng())));
            break;
        default: // a duplicated stretch
        {
            size_t nAt = rng() % strZip.size();
            strZip.insert(nAt, strZip.substr(nAt, rng() % 64));
            break;
        }
        }
    }
    return strZip;
}

void CollectEscapes(const std::wstring& strFolder, const std::wstring& strExcluded, std::vector<std::wstring>& vecFound)
{
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW((strFolder + L"\\*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring strName = data.cFileName;
        if (strName == L"." || strName == L"..")
            continue;
        std::wstring strPath = strFolder + L"\\" + strName;
        if (_wcsicmp(strPath.c_str(), strExcluded.c_str()) == 0)
            continue;
        if (strName.find(ESCAPE_TOKEN_W) != std::wstring::npos)
            vecFound.push_back(strPath);
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
            && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            CollectEscapes(strPath, strExcluded, vecFound);
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
}

int EnvNumber(const WCHAR* pszName, int nDefault)
{
    const WCHAR* psz = _wgetenv(pszName);
    return psz != nullptr ? _wtoi(psz) : nDefault;
}

// Damaged and hostile archives, generated from a seed: extraction never crashes or hangs and
// writes nothing outside the target. The folders around the target are listed before and after
// each case; at the end the whole drive is searched for the names the archives carried.
TEST(ZipRobustness, DamagedAndHostileArchivesNeverWriteOutsideTheTarget)
{
    const int nCases = EnvNumber(L"MIREVALE_ZIP_FUZZ_CASES", 400);
    const int nSeed = EnvNumber(L"MIREVALE_ZIP_FUZZ_SEED", 20240611);
    std::wstring strSandbox = MakeTempFolder(L"zipfuzz");
    ASSERT_FALSE(strSandbox.empty());
    std::wstring strOuter = strSandbox + L"\\outer";
    std::wstring strTarget = strOuter + L"\\inner\\Larkspire";
    ASSERT_TRUE(CreateDirectoryW(strOuter.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((strOuter + L"\\inner").c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(strOuter + L"\\inner\\sibling.txt", "s"));
    ASSERT_TRUE(WriteTextFile(strSandbox + L"\\top.txt", "t"));
    std::wstring strArchive = strSandbox + L"\\case.zip";
    std::wstring strLog = strSandbox + L"\\log.txt";
    wcscpy(g_szLogPath, strLog.c_str());

    std::set<std::wstring> setBefore = ListTree(strSandbox);
    int nTrue = 0;
    for (int nCase = 0; nCase < nCases; ++nCase) {
        std::mt19937 rng(static_cast<unsigned>(nSeed) * 7919u + static_cast<unsigned>(nCase));
        ASSERT_TRUE(WriteTextFile(strArchive, RandomArchive(rng)));
        if (CSetupDlg::UnZip(strArchive.c_str(), strTarget.c_str()))
            ++nTrue;
        RemoveTree(strTarget);
        DeleteFileW(strLog.c_str());
        std::set<std::wstring> setAfter = ListTree(strSandbox);
        setAfter.erase(L"outer\\inner\\Larkspire\\");
        setAfter.erase(L"case.zip");
        ASSERT_EQ(setBefore, setAfter) << "case " << nCase << " seed " << nSeed;
    }
    g_szLogPath[0] = L'\0';

    std::vector<std::wstring> vecEscaped;
    CollectEscapes(L"C:", strSandbox, vecEscaped);
    for (const std::wstring& strPath : vecEscaped)
        ADD_FAILURE() << "written outside the target: " << Narrow(strPath);
    std::cout << nCases << " archives, " << nTrue << " extracted in full, seed " << nSeed << std::endl;
    EXPECT_GT(nTrue, 0) << "the generator should also make some sound archives";
    RemoveTree(strSandbox);
}

SIZE_T WorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.WorkingSetSize;
}

// A 200 MB item streams through the handle's buffer: the working set, sampled while it is
// extracted, stays far below the item's size.
TEST(ZipRobustness, LargeItemIsStreamedNotHeldInMemory)
{
    const DWORD cbItem = 200u << 20;
    const uInt cbChunk = 1u << 20;
    std::string strZeros(cbChunk, '\0');
    z_stream stream = {};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string strCompressed;
    std::string strOut(1u << 16, '\0');
    DWORD dwCrc = 0;
    for (DWORD cbDone = 0; cbDone < cbItem; cbDone += cbChunk) {
        dwCrc = crc32(dwCrc, reinterpret_cast<const Bytef*>(strZeros.data()), cbChunk);
        stream.next_in = reinterpret_cast<Bytef*>(&strZeros[0]);
        stream.avail_in = cbChunk;
        int nFlush = cbDone + cbChunk >= cbItem ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(&strOut[0]);
            stream.avail_out = static_cast<uInt>(strOut.size());
            deflate(&stream, nFlush);
            strCompressed.append(strOut.data(), strOut.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    ZipEntry entry = DeflatedEntry("big.bin", "");
    entry.strCompressed = strCompressed;
    entry.dwCrc = dwCrc;
    entry.dwUncompressedSize = cbItem;

    std::wstring strSandbox = MakeTempFolder(L"zipbig");
    std::wstring strArchive = strSandbox + L"\\big.zip";
    ASSERT_TRUE(WriteTextFile(strArchive, BuildZip({entry})));
    strZeros = std::string();

    SIZE_T cbBefore = WorkingSet();
    std::atomic<bool> bDone(false);
    std::atomic<SIZE_T> cbMax(cbBefore);
    std::thread sampler([&] {
        while (!bDone) {
            SIZE_T cb = WorkingSet();
            if (cb > cbMax)
                cbMax = cb;
            Sleep(5);
        }
    });
    BOOL bResult = CSetupDlg::UnZip(strArchive.c_str(), (strSandbox + L"\\out").c_str());
    bDone = true;
    sampler.join();

    EXPECT_TRUE(bResult);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW((strSandbox + L"\\out\\big.bin").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(cbItem, data.nFileSizeLow);
    SIZE_T cbGrowth = cbMax - cbBefore;
    std::cout << "200 MiB item (" << strCompressed.size() << " bytes deflated): working set " << cbBefore / 1024
              << " KiB before, at most " << cbMax / 1024 << " KiB while extracting (+" << cbGrowth / 1024 << " KiB)"
              << std::endl;
    EXPECT_LT(cbGrowth, static_cast<SIZE_T>(32u << 20));
    RemoveTree(strSandbox);
}

} // namespace
