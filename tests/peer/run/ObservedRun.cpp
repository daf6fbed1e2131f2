#include "ObservedRun.h"

#include <commctrl.h>
#include <tlhelp32.h>
#include <wininet.h>

#include <filesystem>

#include "TestFiles.h"
#include "app/Globals.h"
#include "res/resource.h"
#include "support/Log.h"
#include "system/BackupRecord.h"

#include <gtest/gtest.h>

namespace {

const WCHAR s_szClass[] = L"MirevaleObservedRun";
// Long enough for any run against loopback; reaching it means the run hangs.
const DWORD HANG_LIMIT_MS = 120000;

std::wstring ShellFolder(HKEY hRoot, const WCHAR* pszValue)
{
    WCHAR sz[MAX_PATH] = {};
    DWORD cb = sizeof(sz) - sizeof(WCHAR);
    RegGetValueW(hRoot, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", pszValue,
        RRF_RT_REG_SZ, nullptr, sz, &cb);
    return sz;
}

// The routine a thread was started with, through the query the debugger uses.
void* ThreadStartAddress(HANDLE hThread)
{
    using PFN_QUERY = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    static PFN_QUERY s_pfnQuery = reinterpret_cast<PFN_QUERY>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    const int THREAD_QUERY_SET_WIN32_START_ADDRESS = 9;
    void* pStart = nullptr;
    if (s_pfnQuery == nullptr
        || s_pfnQuery(hThread, THREAD_QUERY_SET_WIN32_START_ADDRESS, &pStart, sizeof(pStart), nullptr) != 0)
        return nullptr;
    return pStart;
}

} // namespace

bool FileExists(const std::wstring& strPath)
{
    return GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring DesktopLinkPath()
{
    return ShellFolder(HKEY_CURRENT_USER, L"Desktop") + L"\\Mirevale.lnk";
}

std::wstring StartMenuFolder()
{
    return ShellFolder(HKEY_LOCAL_MACHINE, L"Common Programs") + L"\\Mirevale";
}

MachineState ProbeMachine()
{
    MachineState state;
    std::wstring strFolder = INSTALL_FOLDER;
    state.bUninstaller = FileExists(strFolder + L"\\UnInstall.exe");
    WCHAR szVersion[32] = {};
    GetPrivateProfileStringW(L"Client", L"Version", L"", szVersion, ARRAYSIZE(szVersion),
        (strFolder + L"\\config\\ORB.System.config").c_str());
    state.strConfigVersion = szVersion;
    state.bDesktopLink = FileExists(DesktopLinkPath());
    state.bStartLink = FileExists(StartMenuFolder() + L"\\Mirevale.lnk");
    state.bStartUninstallLink = FileExists(StartMenuFolder() + L"\\卸载Mirevale.lnk");
    HKEY hKey = nullptr;
    state.bRegistry = RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_READ, &hKey) == ERROR_SUCCESS;
    if (hKey != nullptr)
        RegCloseKey(hKey);
    return state;
}

void ClearInstallation()
{
    std::error_code ec;
    std::vector<std::wstring> folders = BackupFolders();
    folders.push_back(INSTALL_FOLDER);
    for (const std::wstring& strFolder : folders) {
        SetFileAttributesW(strFolder.c_str(), FILE_ATTRIBUTE_NORMAL);
        for (auto it = std::filesystem::recursive_directory_iterator(strFolder, ec);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(strFolder, ec);
    }
    ClearBackupRecord();
    std::filesystem::remove_all(TEMP_FOLDER, ec);
    DeleteFileW(DesktopLinkPath().c_str());
    std::filesystem::remove_all(StartMenuFolder(), ec);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
}

int ServerGet(const std::wstring& strPath)
{
    int nStatus = 0;
    HINTERNET hNet = InternetOpenW(L"run-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (hNet == nullptr)
        return 0;
    std::wstring strUrl = g_strBaseUrl + strPath;
    HINTERNET hUrl = InternetOpenUrlW(hNet, strUrl.c_str(), nullptr, 0,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
    if (hUrl != nullptr) {
        DWORD dwStatus = 0;
        DWORD cb = sizeof(dwStatus);
        if (HttpQueryInfoW(hUrl, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &dwStatus, &cb, nullptr))
            nStatus = static_cast<int>(dwStatus);
        InternetCloseHandle(hUrl);
    }
    InternetCloseHandle(hNet);
    return nStatus;
}

std::vector<LogRecord> ReadRunLog()
{
    std::vector<LogRecord> records;
    std::wstring strLog = Utf16(ReadFileBytes(g_szLogPath));
    for (size_t pos = 0, end; (end = strLog.find(L"\r\n", pos)) != std::wstring::npos; pos = end + 2) {
        // "[level][date time:ms pid:tid]text"; a text may hold line breaks of its own (the manifest).
        size_t nLevelEnd = strLog.find(L']', pos);
        size_t nStampEnd = strLog.find(L']', nLevelEnd + 1);
        if (nLevelEnd == std::wstring::npos || nStampEnd == std::wstring::npos || nStampEnd > end) {
            if (!records.empty())
                records.back().strText += L"\r\n" + strLog.substr(pos, end - pos);
            continue;
        }
        size_t nColon = strLog.rfind(L':', nStampEnd);
        LogRecord record;
        record.strLevel = strLog.substr(pos, nLevelEnd + 1 - pos);
        record.dwThread = wcstoul(strLog.substr(nColon + 1, nStampEnd - nColon - 1).c_str(), nullptr, 16);
        record.strText = strLog.substr(nStampEnd + 1, end - nStampEnd - 1);
        records.push_back(record);
    }
    return records;
}

int FindRecord(const std::vector<LogRecord>& records, const std::wstring& strPrefix, int nFrom)
{
    for (size_t i = static_cast<size_t>(nFrom); i < records.size(); ++i) {
        if (records[i].strText.compare(0, strPrefix.size(), strPrefix) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

int CountRecords(const std::vector<LogRecord>& records, const std::wstring& strPrefix)
{
    int nCount = 0;
    for (int i = FindRecord(records, strPrefix); i >= 0; i = FindRecord(records, strPrefix, i + 1))
        ++nCount;
    return nCount;
}

CObservedSetupDlg::CObservedSetupDlg()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = s_szClass;
    RegisterClassW(&wc);
    m_hWnd = CreateWindowExW(
        0, s_szClass, L"Mirevale", WS_POPUP, 0, 0, 530, 360, nullptr, nullptr, GetModuleHandleW(nullptr), this);

    RECT rcPercent = {490, 341, 525, 359};
    m_stcPercent.Create(L"0%", SS_RIGHT | WS_VISIBLE, rcPercent, m_hWnd, IDC_STATIC_PERCENT);
    RECT rcStatus = {34, 324, 494, 342};
    m_stcStatus.Create(L"", SS_CENTER, rcStatus, m_hWnd, IDC_STATIC_STATUS);
    SetWindowSubclass(m_stcPercent.GetSafeHwnd(), LabelProc, IDC_STATIC_PERCENT, reinterpret_cast<DWORD_PTR>(this));
    SetWindowSubclass(m_stcStatus.GetSafeHwnd(), LabelProc, IDC_STATIC_STATUS, reinterpret_cast<DWORD_PTR>(this));
}

CObservedSetupDlg::~CObservedSetupDlg()
{
    WaitForExit();
    RemoveWindowSubclass(m_stcPercent.GetSafeHwnd(), LabelProc, IDC_STATIC_PERCENT);
    RemoveWindowSubclass(m_stcStatus.GetSafeHwnd(), LabelProc, IDC_STATIC_STATUS);
    m_stcPercent.DestroyWindow();
    m_stcStatus.DestroyWindow();
    DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    if (m_hWorker != nullptr)
        CloseHandle(m_hWorker);
}

void CObservedSetupDlg::ReleaseAfterProgress(int nPost, const std::wstring& strName)
{
    m_releases.emplace_back(nPost, strName);
}

void CObservedSetupDlg::RunToEnd(const std::function<void()>& onIdle)
{
    ASSERT_TRUE(Start(0));
    for (;;) {
        // Whatever the run posted before its thread ended is in the queue once the end is seen.
        bool bRunEnded = HasExited();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        if (onIdle)
            onIdle();
        if (bRunEnded && (Find(RunEvent::ARM_LAUNCH) == nullptr || Find(RunEvent::LAUNCH_TIMER) != nullptr))
            return;
        HANDLE hRunner = m_hThread.Get();
        DWORD dwWait = MsgWaitForMultipleObjects(bRunEnded ? 0 : 1, &hRunner, FALSE, HANG_LIMIT_MS, QS_ALLINPUT);
        ASSERT_NE(static_cast<DWORD>(WAIT_TIMEOUT), dwWait) << "the run neither ended nor reported anything";
    }
}

void CObservedSetupDlg::PumpUntil(const std::function<bool()>& bDone)
{
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        if (bDone())
            return;
        ASSERT_FALSE(HasExited()) << "the run ended before it got there";
        HANDLE hRunner = m_hThread.Get();
        DWORD dwWait = MsgWaitForMultipleObjects(1, &hRunner, FALSE, HANG_LIMIT_MS, QS_ALLINPUT);
        ASSERT_NE(static_cast<DWORD>(WAIT_TIMEOUT), dwWait) << "the run neither ended nor reported anything";
    }
}

LRESULT CALLBACK CObservedSetupDlg::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_NCCREATE) {
        auto* pCreate = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pCreate->lpCreateParams));
    }
    auto* pThis = reinterpret_cast<CObservedSetupDlg*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (pThis == nullptr)
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    switch (uMsg) {
    case WM_SETUP_PROGRESS:
        pThis->OnProgress();
        return 1;
    case WM_SETUP_ARM_LAUNCH:
        pThis->Record(RunEvent::ARM_LAUNCH);
        SetTimer(hWnd, IDT_LAUNCH_CLIENT, 1000, nullptr);
        return 0;
    case WM_TIMER:
        if (wParam != IDT_LAUNCH_CLIENT)
            break;
        KillTimer(hWnd, IDT_LAUNCH_CLIENT);
        pThis->Record(RunEvent::LAUNCH_TIMER);
        return 0;
    case WM_CTLCOLORSTATIC: {
        LRESULT lResult = 0;
        if (CStatic::ReflectCtlColor(wParam, lParam, lResult))
            return lResult;
        break;
    }
    default:
        break;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CObservedSetupDlg::LabelProc(
    HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass, DWORD_PTR dwRefData)
{
    if (uMsg != WM_SETTEXT)
        return DefSubclassProc(hWnd, uMsg, wParam, lParam);
    auto* pThis = reinterpret_cast<CObservedSetupDlg*>(dwRefData);
    // Inside a text change sent by the run, the window's own progress update is still "sent".
    bool bOtherThread = InSendMessage() != FALSE && !pThis->m_bOwnUpdate;
    if (bOtherThread) {
        pThis->FindWorker();
        // The run posted these before it set this text and is waiting now: handled here, they show
        // the progress that was current when they were posted.
        pThis->HandlePendingProgress();
    }
    LRESULT lResult = DefSubclassProc(hWnd, uMsg, wParam, lParam);
    const WCHAR* pszText = reinterpret_cast<const WCHAR*>(lParam);
    pThis->Record(uIdSubclass == IDC_STATIC_STATUS ? RunEvent::STATUS_TEXT : RunEvent::PERCENT_TEXT,
        pszText != nullptr ? pszText : L"", bOtherThread);
    return lResult;
}

void CObservedSetupDlg::Record(RunEvent::Kind kind, const std::wstring& strText, bool bOtherThread)
{
    RunEvent event;
    event.kind = kind;
    event.nProgress = m_nProgress;
    event.strText = strText;
    event.bOtherThread = bOtherThread;
    event.crStatus = m_stcStatus.GetTextColor();
    event.bStatusVisible = (GetWindowLongW(m_stcStatus.GetSafeHwnd(), GWL_STYLE) & WS_VISIBLE) != 0;
    event.state = ProbeMachine();
    m_events.push_back(event);
}

void CObservedSetupDlg::OnProgress()
{
    FindWorker();
    Record(RunEvent::PROGRESS);
    m_bOwnUpdate = true;
    UpdateProgressText();
    m_bOwnUpdate = false;
    ++m_nPosts;
    for (const auto& release : m_releases) {
        if (release.first == m_nPosts) {
            EXPECT_EQ(200, ServerGet(L"release/" + release.second));
        }
    }
}

void CObservedSetupDlg::HandlePendingProgress()
{
    MSG msg;
    while (PeekMessageW(&msg, m_hWnd, WM_SETUP_PROGRESS, WM_SETUP_PROGRESS, PM_REMOVE))
        OnProgress();
}

void CObservedSetupDlg::FindWorker()
{
    if (m_hWorker != nullptr)
        return;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = Thread32First(hSnapshot, &entry); bMore && m_hWorker == nullptr;
         bMore = Thread32Next(hSnapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId())
            continue;
        HANDLE hThread = OpenThread(THREAD_QUERY_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ThreadID);
        if (hThread == nullptr)
            continue;
        if (ThreadStartAddress(hThread) == reinterpret_cast<void*>(&CSetupDlg::InstallThreadProc))
            m_hWorker = hThread;
        else
            CloseHandle(hThread);
    }
    CloseHandle(hSnapshot);
}

std::vector<int> CObservedSetupDlg::ProgressPosts() const
{
    std::vector<int> posts;
    for (const RunEvent& event : m_events) {
        if (event.kind == RunEvent::PROGRESS)
            posts.push_back(event.nProgress);
    }
    return posts;
}

std::vector<std::wstring> CObservedSetupDlg::StatusTexts() const
{
    std::vector<std::wstring> texts;
    for (const RunEvent& event : m_events) {
        if (event.kind == RunEvent::STATUS_TEXT)
            texts.push_back(event.strText);
    }
    return texts;
}

const RunEvent* CObservedSetupDlg::Find(RunEvent::Kind kind, const std::wstring& strText) const
{
    for (const RunEvent& event : m_events) {
        if (event.kind == kind && (strText.empty() || event.strText == strText))
            return &event;
    }
    return nullptr;
}

DWORD CObservedSetupDlg::RunnerStatus() const
{
    DWORD dwCode = STILL_ACTIVE;
    GetExitCodeThread(m_hThread.Get(), &dwCode);
    return dwCode;
}

DWORD CObservedSetupDlg::WorkerStatus() const
{
    DWORD dwCode = STILL_ACTIVE;
    GetExitCodeThread(m_hWorker, &dwCode);
    return dwCode;
}

HANDLE CObservedSetupDlg::DuplicateRunnerHandle() const
{
    HANDLE hCopy = nullptr;
    DuplicateHandle(GetCurrentProcess(), m_hThread.Get(), GetCurrentProcess(), &hCopy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return hCopy;
}

HANDLE CObservedSetupDlg::DuplicateWorkerHandle() const
{
    HANDLE hCopy = nullptr;
    DuplicateHandle(GetCurrentProcess(), m_hWorker, GetCurrentProcess(), &hCopy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    return hCopy;
}

void RunTest::SetUp()
{
    ClearInstallation();
    m_dlg = std::make_unique<CObservedSetupDlg>();
    ASSERT_STREQ(INSTALL_FOLDER, m_dlg->m_szSetupPath);
    ASSERT_STREQ(TEMP_FOLDER, m_dlg->m_szTempPath);
    ASSERT_FALSE(FileExists(INSTALL_FOLDER));
    m_dlg->m_setKinds = {1, 2};
}

void RunTest::ExpectThreadsEnded(DWORD dwWorkerStatus)
{
    EXPECT_EQ(1u, m_dlg->RunnerStatus());
    ASSERT_TRUE(m_dlg->WorkerFound()) << "the install worker was never seen running";
    EXPECT_EQ(dwWorkerStatus, m_dlg->WorkerStatus());
}

void RunTest::ExpectNoCompletion()
{
    EXPECT_EQ(nullptr, m_dlg->Find(RunEvent::ARM_LAUNCH));
    EXPECT_EQ(nullptr, m_dlg->Find(RunEvent::PERCENT_TEXT, L"100%"));
    EXPECT_NE(100, m_dlg->m_nProgress.load());
    MachineState state = ProbeMachine();
    EXPECT_EQ(L"", state.strConfigVersion);
    EXPECT_FALSE(state.bDesktopLink);
    EXPECT_FALSE(state.bStartLink);
    EXPECT_FALSE(state.bStartUninstallLink);
    EXPECT_FALSE(state.bRegistry);
}

void RunTest::ExpectFailureShown(const std::wstring& strMessage)
{
    ASSERT_FALSE(m_dlg->StatusTexts().empty());
    EXPECT_EQ(strMessage, m_dlg->StatusTexts().back());
    const RunEvent& last = *m_dlg->Find(RunEvent::STATUS_TEXT, strMessage);
    EXPECT_TRUE(last.bOtherThread);
    EXPECT_EQ(RGB(255, 0, 0), last.crStatus);
    EXPECT_TRUE(last.bStatusVisible);
    EXPECT_FALSE(m_dlg->m_bConfirmClose.load());
}

void RunTest::MakeOldInstallation()
{
    const std::wstring strFolder = INSTALL_FOLDER;
    ASSERT_TRUE(CreateDirectoryW(INSTALL_FOLDER, nullptr));
    ASSERT_TRUE(CreateDirectoryW((strFolder + L"\\config").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((strFolder + L"\\bin").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(OLD_FILE, "old", 3));
    const char szConfig[] = "[Server]\r\nHost=the user's own\r\n";
    ASSERT_TRUE(WriteFileBytes(strFolder + L"\\config\\ORB.System.config", szConfig, sizeof(szConfig) - 1));
    ASSERT_TRUE(WriteFileBytes(strFolder + L"\\bin\\locked.dll", "ro", 2));
    ASSERT_TRUE(WriteFileBytes(strFolder + L"\\hidden.dat", "h", 1));
    ULONGLONG ullTime = 133000000000000000ull;
    for (const WCHAR* pszName : {L"\\old.txt", L"\\config\\ORB.System.config", L"\\bin\\locked.dll", L"\\hidden.dat"}) {
        HANDLE hFile
            = CreateFileW((strFolder + pszName).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
        ullTime += 10000000ull * 3600;
        FILETIME ft = {static_cast<DWORD>(ullTime), static_cast<DWORD>(ullTime >> 32)};
        SetFileTime(hFile, nullptr, nullptr, &ft);
        CloseHandle(hFile);
    }
    SetFileAttributesW((strFolder + L"\\bin\\locked.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((strFolder + L"\\hidden.dat").c_str(), FILE_ATTRIBUTE_HIDDEN);
    m_oldTree = SnapshotTree(INSTALL_FOLDER);
    ASSERT_EQ(6u, m_oldTree.size());
}

void RunTest::ExpectOldInstallationBack()
{
    EXPECT_EQ(m_oldTree, SnapshotTree(INSTALL_FOLDER)) << "the previous installation is not back as it was";
    std::vector<std::wstring> backups = BackupFolders();
    EXPECT_TRUE(backups.empty()) << "a backup is left: " << Narrow(backups.empty() ? L"" : backups.front());
    WCHAR szFolder[MAX_PATH];
    WCHAR szBackup[MAX_PATH];
    EXPECT_FALSE(ReadBackupRecord(szFolder, szBackup)) << "the backup record stays";
}

std::map<std::wstring, std::string> SnapshotTree(const std::wstring& strFolder)
{
    std::map<std::wstring, std::string> tree;
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW((strFolder + L"\\*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return tree;
    do {
        std::wstring strName = data.cFileName;
        if (strName == L"." || strName == L"..")
            continue;
        std::string strWhat = "attributes=" + std::to_string(data.dwFileAttributes)
            + " time=" + std::to_string(data.ftLastWriteTime.dwHighDateTime) + ":"
            + std::to_string(data.ftLastWriteTime.dwLowDateTime);
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            tree[strName + L"\\"] = "folder";
            for (const auto& [strPath, strInner] : SnapshotTree(strFolder + L"\\" + strName))
                tree[strName + L"\\" + strPath] = strInner;
        } else {
            std::vector<BYTE> bytes = ReadFileBytes(strFolder + L"\\" + strName);
            tree[strName] = strWhat + " bytes=" + std::string(bytes.begin(), bytes.end());
        }
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    return tree;
}

std::vector<std::wstring> BackupFolders()
{
    std::vector<std::wstring> folders;
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW((std::wstring(INSTALL_FOLDER) + L".previous-*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return folders;
    do
        folders.push_back(std::wstring(L"C:\\") + data.cFileName);
    while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    return folders;
}
