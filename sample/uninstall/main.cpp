// Placeholder for the uninstaller, which comes in a later release; the installer still downloads and
// registers a program under this name.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    MessageBoxW(nullptr, L"卸载程序将在以后的版本中提供。", L"提示", MB_OK | MB_ICONINFORMATION);
    return 0;
}
