// The sample client: a window titled with the product name that shows the configuration version the
// installer wrote next to it.
#include <windows.h>

#include <string>

namespace {

const wchar_t kWindowClass[] = L"MirevaleSampleClient";

std::wstring ConfigPath()
{
    wchar_t exe[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, exe, ARRAYSIZE(exe));
    if (length == 0 || length >= ARRAYSIZE(exe))
        return std::wstring();
    std::wstring path(exe, length);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + L"config\\ORB.System.config";
}

std::wstring VersionText()
{
    wchar_t version[64] = L"";
    const std::wstring path = ConfigPath();
    if (!path.empty())
        GetPrivateProfileStringW(L"Client", L"Version", L"", version, ARRAYSIZE(version), path.c_str());
    return std::wstring(L"Version: ") + (version[0] ? version : L"(none)");
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        CreateWindowExW(0, L"STATIC", VersionText().c_str(), WS_CHILD | WS_VISIBLE, 20, 20, 280, 24, window, nullptr,
            reinterpret_cast<CREATESTRUCTW*>(lParam)->hInstance, nullptr);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassW(&windowClass))
        return 1;
    HWND window = CreateWindowExW(0, kWindowClass, L"Mirevale", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 340,
        120, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, show);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
