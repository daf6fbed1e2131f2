#include <windows.h>

#include <string>
#include <vector>

#include "framework/WinApp.h"
#include "support/Format.h"
#include "support/Handles.h"
#include "support/Log.h"
#include "support/RealPath.h"
#include "system/FolderSecurity.h"
#include "system/ClientProcess.h"
#include "system/UninstallEntry.h"
#include "uninstall/UninstallRules.h"
#include "uninstall/Uninstaller.h"
#include "core/rules/Names.h"

// UnInstall.exe: removes the installed client after one question, or with "/S" without any window.
// The work runs in InitInstance; every window is a message box, so no message loop of its own is
// needed. The exit code tells the outcome (listed in the README).
class CUninstallApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;

private:
    int Uninstall();
    // A message box, unless the run is silent.
    void Tell(const std::wstring& strText, UINT uIcon = MB_ICONINFORMATION) const;

    bool m_bSilent = false;
    int m_nExitCode = 0;
};

CUninstallApp theApp;

namespace {

enum ExitCode {
    EXIT_REMOVED = 0, // folder, links and entry gone; also the start that handed over to its copy
    EXIT_BAD_ARGUMENTS = 1,
    EXIT_FOLDER_REFUSED = 2,
    EXIT_CLIENT_RUNNING = 3,
    EXIT_LEFT_BEHIND = 4,
    EXIT_CANCELLED = 5,
};

const WCHAR s_szCaptionInfo[] = L"提示";
const WCHAR s_szCaptionAsk[] = L"询问";
// How long the copy waits for the program that started it to end and release its file.
const DWORD s_dwRelayWaitMs = 60 * 1000;

std::wstring RefusalMessage(FolderVerdict verdict, const std::wstring& strFolder, const WCHAR* pszRegistered)
{
    const WCHAR szNothingChanged[] = L"\n\n卸载已取消，没有做任何更改。";
    std::wstring strHead = FormatString(L"“%s”不是 Mirevale 的安装文件夹：", strFolder.c_str());
    switch (verdict) {
    case FolderVerdict::RootOrEmpty:
        return strHead + L"不能删除空路径或驱动器的根目录。" + szNothingChanged;
    case FolderVerdict::NotRegistered:
        return std::wstring(L"没有找到 Mirevale 的安装信息，Mirevale 可能已经卸载。") + szNothingChanged;
    case FolderVerdict::NotRegisteredFolder:
        return strHead + FormatString(L"Mirevale 安装在“%s”。", pszRegistered) + szNothingChanged;
    case FolderVerdict::NotAFolder:
        return strHead + L"这个文件夹不存在，或者只是指向别处的链接。" + szNothingChanged;
    case FolderVerdict::NoClient:
        return strHead + L"其中没有 " CLIENT_PROGRAM_NAME "。" + szNothingChanged;
    case FolderVerdict::Accepted:
        break;
    }
    return std::wstring();
}

std::wstring OwnPath()
{
    WCHAR szSelf[MAX_PATH] = {};
    DWORD cch = GetModuleFileNameW(nullptr, szSelf, MAX_PATH);
    return cch != 0 && cch < MAX_PATH ? szSelf : L"";
}

// Waits for the program that started this copy; the handle it passed down is this copy's to close.
DWORD WaitForStarter(UINT_PTR nWaitHandle)
{
    CKernelHandle starter(reinterpret_cast<HANDLE>(nWaitHandle));
    return WaitForSingleObject(starter.Get(), s_dwRelayWaitMs);
}

} // namespace

BOOL CUninstallApp::InitInstance()
{
    m_nExitCode = Uninstall();
    return FALSE;
}

int CUninstallApp::ExitInstance()
{
    CWinApp::ExitInstance();
    return m_nExitCode;
}

void CUninstallApp::Tell(const std::wstring& strText, UINT uIcon) const
{
    if (!m_bSilent)
        MessageBoxW(nullptr, strText.c_str(), s_szCaptionInfo, MB_OK | uIcon | MB_SETFOREGROUND);
}

int CUninstallApp::Uninstall()
{
    const WCHAR* pszCommandLine = GetCommandLineW();
    UninstallArguments args = ParseUninstallArguments(SkipProgramName(pszCommandLine));
    m_bSilent = args.bSilent;
    WCHAR szRegistered[MAX_PATH] = {};
    ReadInstallLocation(szRegistered);
    std::wstring strFolder = args.bHasFolder ? args.strFolder : std::wstring(szRegistered);

    // The log and the copy go to the "temp" folder beside the install folder, where the installer logs.
    WCHAR szTemp[MAX_PATH];
    bool bTemp = Format(szTemp, MAX_PATH, L"%stemp", DriveRootOf(strFolder).c_str())
        && Format(g_szLogPath, MAX_PATH, L"%s\\uninstall.txt", szTemp);
    if (!bTemp)
        g_szLogPath[0] = L'\0';
    else if (szRegistered[0] != L'\0'
        && _wcsicmp(DriveRootOf(strFolder).c_str(), DriveRootOf(szRegistered).c_str()) == 0) {
        // The installer's temporary folder, on the installation's drive: where it is missing the first
        // records would have no folder. A refusal leaves other drives as they were. A link in its place
        // goes as the link, or the folder is not used: the copy started from it runs as an administrator.
        CProtectedFolderSecurity security;
        bTemp = static_cast<bool>(HoldRealFolder(szTemp, security.Get(), false));
    }
    LogNormal(L"[CUninstallApp::InitInstance] CommandLine=%s InstallLocation=%s", pszCommandLine, szRegistered);

    if (!args.bValid) {
        LogError(L"[CUninstallApp::InitInstance] refused: arguments not understood");
        Tell(FormatString(
                 L"无法识别卸载程序的启动参数：\n%s\n\n卸载已取消，没有做任何更改。", SkipProgramName(pszCommandLine)),
            MB_ICONWARNING);
        return EXIT_BAD_ARGUMENTS;
    }
    if (args.nWaitHandle != 0) {
        DWORD dwWait = WaitForStarter(args.nWaitHandle);
        LogNormal(L"[CUninstallApp::InitInstance] waited for the starter result=%lu", dwWait);
        // This copy in the temporary folder goes at the next start of the system, whatever happens here.
        std::wstring strSelf = OwnPath();
        if (strSelf.empty() || !MoveFileExW(strSelf.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            LogNormal(L"[CUninstallApp::InitInstance] copy stays in the temporary folder error=%lu", GetLastError());
    }

    WCHAR szFolder[MAX_PATH];
    FolderVerdict verdict = CheckInstallFolder(strFolder.c_str(), szRegistered, szFolder);
    if (verdict != FolderVerdict::Accepted) {
        LogError(L"[CUninstallApp::InitInstance] refused folder=%s reason=%s", strFolder.c_str(), VerdictName(verdict));
        Tell(RefusalMessage(verdict, strFolder, szRegistered), MB_ICONWARNING);
        return EXIT_FOLDER_REFUSED;
    }

    // The process's working folder would keep the install folder from going.
    if (bTemp)
        SetCurrentDirectoryW(szTemp);
    bool bInside = IsInsideFolder(OwnPath(), szFolder);
    if (!m_bSilent && args.nWaitHandle == 0 && bTemp && bInside && StartCopyFromTemp(szFolder, szTemp))
        return EXIT_REMOVED;

    if (FindProcess(L"" CLIENT_PROGRAM_NAME, szFolder)) {
        LogError(L"[CUninstallApp::InitInstance] refused: the client runs from folder=%s", szFolder);
        Tell(L"Mirevale 正在运行。\n\n请先退出 Mirevale，然后再次运行卸载程序。卸载已取消，没有做任何更改。",
            MB_ICONWARNING);
        return EXIT_CLIENT_RUNNING;
    }

    std::wstring strQuestion = FormatString(
        L"确定要卸载 Mirevale 吗？\n\n将删除文件夹“%s”及其中的所有文件，以及 Mirevale 的快捷方式。", szFolder);
    if (m_bSilent) {
        // No copy takes over a silent run, so that the process that was started ends with the outcome:
        // its own file leaves the folder instead.
        if (bTemp && bInside)
            MoveProgramToTemp(szTemp);
    } else if (MessageBoxW(nullptr, strQuestion.c_str(), s_szCaptionAsk,
                   MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SETFOREGROUND)
        != IDYES) {
        LogNormal(L"[CUninstallApp::InitInstance] cancelled by the user");
        return EXIT_CANCELLED;
    }

    LogNormal(L"[CUninstallApp::InitInstance] uninstalling folder=%s", szFolder);
    std::vector<std::wstring> vecLeft;
    RemoveShortcuts(szFolder, vecLeft);
    for (const std::wstring& strLeft : RemoveInstallFolder(szFolder))
        vecLeft.push_back(strLeft);
    if (!DeleteUninstallEntry())
        vecLeft.push_back(FormatString(L"卸载信息（注册表项 %s）", g_szUninstallEntry));

    LogNormal(L"[CUninstallApp::InitInstance] done left=%u", static_cast<unsigned>(vecLeft.size()));
    Tell(FinalMessage(vecLeft), vecLeft.empty() ? MB_ICONINFORMATION : MB_ICONWARNING);
    return vecLeft.empty() ? EXIT_REMOVED : EXIT_LEFT_BEHIND;
}
