#include <windows.h>

#include <string>
#include <vector>

#include "framework/WinApp.h"
#include "support/Format.h"
#include "support/Log.h"
#include "system/ClientProcess.h"
#include "system/UninstallEntry.h"
#include "uninstall/UninstallRules.h"
#include "uninstall/Uninstaller.h"

// UnInstall.exe: removes the installed client after one question. The work runs in InitInstance; every
// window is a message box, so no message loop of its own is needed.
class CUninstallApp : public CWinApp {
public:
    BOOL InitInstance() override;
};

CUninstallApp theApp;

namespace {

const WCHAR s_szCaptionInfo[] = L"提示";
const WCHAR s_szCaptionAsk[] = L"询问";
// How long the copy waits for the program that started it to end and release its file.
const DWORD s_dwRelayWaitMs = 60 * 1000;

void ShowInfo(const std::wstring& strText, UINT uIcon = MB_ICONINFORMATION)
{
    MessageBoxW(nullptr, strText.c_str(), s_szCaptionInfo, MB_OK | uIcon | MB_SETFOREGROUND);
}

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
        return strHead + L"其中没有 iQorRemote.exe。" + szNothingChanged;
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

} // namespace

BOOL CUninstallApp::InitInstance()
{
    const WCHAR* pszCommandLine = GetCommandLineW();
    UninstallArguments args = ParseUninstallArguments(SkipProgramName(pszCommandLine));
    WCHAR szRegistered[MAX_PATH] = {};
    ReadInstallLocation(szRegistered);
    std::wstring strFolder = args.bHasFolder ? args.strFolder : std::wstring(szRegistered);

    // The log and the copy go to the "temp" folder beside the install folder, where the installer logs.
    WCHAR szTemp[MAX_PATH];
    bool bTemp = Format(szTemp, MAX_PATH, L"%stemp", DriveRootOf(strFolder).c_str())
        && Format(g_szLogPath, MAX_PATH, L"%s\\uninstall.txt", szTemp);
    if (!bTemp)
        g_szLogPath[0] = L'\0';
    else
        CreateDirectoryW(szTemp, nullptr); // where no installer ran, the first records would have no folder
    LogNormal(L"[CUninstallApp::InitInstance] CommandLine=%s InstallLocation=%s", pszCommandLine, szRegistered);

    if (!args.bValid) {
        LogError(L"[CUninstallApp::InitInstance] refused: arguments not understood");
        ShowInfo(FormatString(L"无法识别卸载程序的启动参数：\n%s\n\n卸载已取消，没有做任何更改。",
                     SkipProgramName(pszCommandLine)),
            MB_ICONWARNING);
        return FALSE;
    }
    if (args.nWaitHandle != 0) {
        HANDLE hStarter = reinterpret_cast<HANDLE>(args.nWaitHandle);
        DWORD dwWait = WaitForSingleObject(hStarter, s_dwRelayWaitMs);
        CloseHandle(hStarter);
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
        ShowInfo(RefusalMessage(verdict, strFolder, szRegistered), MB_ICONWARNING);
        return FALSE;
    }

    // The process's working folder would keep the install folder from going.
    if (bTemp)
        SetCurrentDirectoryW(szTemp);
    if (args.nWaitHandle == 0 && bTemp && IsInsideFolder(OwnPath(), szFolder) && StartCopyFromTemp(szFolder, szTemp))
        return FALSE;

    if (FindProcess(L"iQorRemote.exe", szFolder)) {
        LogError(L"[CUninstallApp::InitInstance] refused: the client runs from folder=%s", szFolder);
        ShowInfo(L"Mirevale 正在运行。\n\n请先退出 Mirevale，然后再次运行卸载程序。卸载已取消，没有做任何更改。",
            MB_ICONWARNING);
        return FALSE;
    }

    std::wstring strQuestion = FormatString(
        L"确定要卸载 Mirevale 吗？\n\n将删除文件夹“%s”及其中的所有文件，以及 Mirevale 的快捷方式。", szFolder);
    if (MessageBoxW(
            nullptr, strQuestion.c_str(), s_szCaptionAsk, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SETFOREGROUND)
        != IDYES) {
        LogNormal(L"[CUninstallApp::InitInstance] cancelled by the user");
        return FALSE;
    }

    LogNormal(L"[CUninstallApp::InitInstance] uninstalling folder=%s", szFolder);
    std::vector<std::wstring> vecLeft;
    RemoveShortcuts(szFolder, vecLeft);
    for (const std::wstring& strLeft : RemoveInstallFolder(szFolder))
        vecLeft.push_back(strLeft);
    if (!DeleteUninstallEntry())
        vecLeft.push_back(FormatString(L"卸载信息（注册表项 %s）", g_szUninstallEntry));

    LogNormal(L"[CUninstallApp::InitInstance] done left=%u", static_cast<unsigned>(vecLeft.size()));
    ShowInfo(FinalMessage(vecLeft), vecLeft.empty() ? MB_ICONINFORMATION : MB_ICONWARNING);
    return FALSE;
}
