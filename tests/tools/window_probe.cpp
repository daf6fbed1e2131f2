// Reports what a test cannot see on the screen about the installer window, or about a message box,
// as UTF-8 "name=value" lines on standard output:
//   window_probe            the installer window: styles, rectangles, state, its two labels, whether
//                           its thread runs a window drag, and the system's double-click rule
//   window_probe restore    the same, after restoring the installer window from the taskbar
//   window_probe box TITLE  the visible top-level window titled TITLE: its child controls
//   window_probe session    waits until the Wine session lists drive C: and has its desktop
// The installer window is the dialog that has the two labels IDC_STATIC_PERCENT and IDC_STATIC_STATUS
// (the output names them by number: label1000, label1001); its title is empty.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "../../src/res/resource.h"

namespace {

void Print(const std::wstring& strLine)
{
    std::wstring strOut = strLine + L"\n";
    int cb = WideCharToMultiByte(
        CP_UTF8, 0, strOut.c_str(), static_cast<int>(strOut.size()), nullptr, 0, nullptr, nullptr);
    std::string strBytes(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(
        CP_UTF8, 0, strOut.c_str(), static_cast<int>(strOut.size()), strBytes.data(), cb, nullptr, nullptr);
    DWORD cbWritten = 0;
    WriteFile(
        GetStdHandle(STD_OUTPUT_HANDLE), strBytes.data(), static_cast<DWORD>(strBytes.size()), &cbWritten, nullptr);
}

std::wstring Text(HWND hWnd)
{
    WCHAR szText[512] = {};
    GetWindowTextW(hWnd, szText, ARRAYSIZE(szText));
    return szText;
}

std::wstring ClassName(HWND hWnd)
{
    WCHAR szClass[128] = {};
    GetClassNameW(hWnd, szClass, ARRAYSIZE(szClass));
    return szClass;
}

std::wstring RectText(const RECT& rc)
{
    WCHAR szRect[64];
    swprintf(szRect, ARRAYSIZE(szRect), L"%ld,%ld,%ld,%ld", rc.left, rc.top, rc.right, rc.bottom);
    return szRect;
}

std::wstring Hex(LONG_PTR nValue)
{
    WCHAR szHex[32];
    swprintf(szHex, ARRAYSIZE(szHex), L"0x%08lX", static_cast<unsigned long>(nValue));
    return szHex;
}

BOOL CALLBACK FindInstaller(HWND hWnd, LPARAM lParam)
{
    if (ClassName(hWnd) == L"#32770" && GetDlgItem(hWnd, IDC_STATIC_PERCENT) != nullptr
        && GetDlgItem(hWnd, IDC_STATIC_STATUS) != nullptr) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}

void PrintLabel(HWND hDlg, int nID)
{
    HWND hLabel = GetDlgItem(hDlg, nID);
    RECT rc;
    GetWindowRect(hLabel, &rc);
    MapWindowPoints(nullptr, hDlg, reinterpret_cast<POINT*>(&rc), 2);
    std::wstring strName = L"label" + std::to_wstring(nID);
    Print(strName + L".visible=" + (IsWindowVisible(hLabel) ? L"1" : L"0"));
    Print(strName + L".rect=" + RectText(rc));
    Print(strName + L".style=" + Hex(GetWindowLongPtrW(hLabel, GWL_STYLE)));
    Print(strName + L".text=" + Text(hLabel));
}

int ProbeInstaller(bool bRestore)
{
    HWND hDlg = nullptr;
    EnumWindows(FindInstaller, reinterpret_cast<LPARAM>(&hDlg));
    if (hDlg == nullptr) {
        Print(L"found=0");
        return 1;
    }
    if (bRestore)
        ShowWindow(hDlg, SW_RESTORE);
    RECT rcWindow;
    RECT rcClient;
    GetWindowRect(hDlg, &rcWindow);
    GetClientRect(hDlg, &rcClient);
    Print(L"found=1");
    Print(L"title=" + Text(hDlg));
    Print(L"style=" + Hex(GetWindowLongPtrW(hDlg, GWL_STYLE)));
    Print(L"exstyle=" + Hex(GetWindowLongPtrW(hDlg, GWL_EXSTYLE)));
    Print(L"window=" + RectText(rcWindow));
    Print(L"client=" + RectText(rcClient));
    Print(std::wstring(L"iconic=") + (IsIconic(hDlg) ? L"1" : L"0"));
    Print(std::wstring(L"visible=") + (IsWindowVisible(hDlg) ? L"1" : L"0"));
    Print(std::wstring(L"owner=") + (GetWindow(hDlg, GW_OWNER) != nullptr ? L"1" : L"0"));
    PrintLabel(hDlg, IDC_STATIC_PERCENT);
    PrintLabel(hDlg, IDC_STATIC_STATUS);
    // The system's own move loop marks its thread while it runs: a press that starts a drag is seen
    // here, and so is the release that ends it.
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    bool bMoving = GetGUIThreadInfo(GetWindowThreadProcessId(hDlg, nullptr), &info)
        && (info.flags & GUI_INMOVESIZE) != 0 && info.hwndMoveSize == hDlg;
    Print(std::wstring(L"movesize=") + (bMoving ? L"1" : L"0"));
    // A press within this time and distance of the last one is a double click, which starts no drag.
    Print(L"doubleclick=" + std::to_wstring(GetDoubleClickTime()) + L","
        + std::to_wstring(GetSystemMetrics(SM_CXDOUBLECLK)) + L"," + std::to_wstring(GetSystemMetrics(SM_CYDOUBLECLK)));
    return 0;
}

int ProbeBox(const WCHAR* pszTitle)
{
    HWND hBox = FindWindowW(nullptr, pszTitle);
    if (hBox == nullptr || !IsWindowVisible(hBox)) {
        Print(L"found=0");
        return 1;
    }
    Print(L"found=1");
    Print(std::wstring(L"owned=") + (GetWindow(hBox, GW_OWNER) != nullptr ? L"1" : L"0"));
    for (HWND hChild = GetWindow(hBox, GW_CHILD); hChild != nullptr; hChild = GetWindow(hChild, GW_HWNDNEXT)) {
        Print(L"child=" + std::to_wstring(GetDlgCtrlID(hChild)) + L";" + ClassName(hChild) + L";"
            + Hex(GetWindowLongPtrW(hChild, GWL_STYLE)) + L";" + Text(hChild));
    }
    return 0;
}

// A new Wine session lists no drive until its mount manager has started, and its desktop comes
// from a process of its own; a program started before both are there sees neither.
int WaitForSession()
{
    const ULONGLONG ullDeadline = GetTickCount64() + 120000;
    for (;;) {
        bool bDrive = (GetLogicalDrives() & (1u << (L'C' - L'A'))) != 0;
        DWORD dwDesktopProcess = 0;
        GetWindowThreadProcessId(GetDesktopWindow(), &dwDesktopProcess);
        HANDLE hDesktopProcess = OpenProcess(SYNCHRONIZE, FALSE, dwDesktopProcess);
        bool bDesktop = hDesktopProcess != nullptr && WaitForSingleObject(hDesktopProcess, 0) == WAIT_TIMEOUT;
        if (hDesktopProcess != nullptr)
            CloseHandle(hDesktopProcess);
        if ((bDrive && bDesktop) || GetTickCount64() > ullDeadline) {
            Print(std::wstring(L"drive=") + (bDrive ? L"1" : L"0"));
            Print(std::wstring(L"desktop=") + (bDesktop ? L"1" : L"0"));
            return bDrive && bDesktop ? 0 : 1;
        }
        Sleep(100);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int nArgs = 0;
    LPWSTR* ppszArgs = CommandLineToArgvW(GetCommandLineW(), &nArgs);
    if (ppszArgs == nullptr)
        return 2;
    int nResult = 2;
    if (nArgs == 1)
        nResult = ProbeInstaller(false);
    else if (nArgs == 2 && wcscmp(ppszArgs[1], L"restore") == 0)
        nResult = ProbeInstaller(true);
    else if (nArgs == 2 && wcscmp(ppszArgs[1], L"session") == 0)
        nResult = WaitForSession();
    else if (nArgs == 3 && wcscmp(ppszArgs[1], L"box") == 0)
        nResult = ProbeBox(ppszArgs[2]);
    LocalFree(ppszArgs);
    return nResult;
}
