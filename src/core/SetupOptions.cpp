#include "core/SetupOptions.h"

#include <shellapi.h>

#include "support/Handles.h"

SetupOptions ParseSetupOptions(const WCHAR* pszCommandLine)
{
    SetupOptions options;
    if (pszCommandLine == nullptr || pszCommandLine[0] == L'\0')
        return options;
    int nArgs = 0;
    LPWSTR* ppszArgs = CommandLineToArgvW(pszCommandLine, &nArgs);
    CLocalMemory args(reinterpret_cast<HLOCAL>(ppszArgs));
    if (!args)
        return options;
    for (int i = 1; i < nArgs; ++i) {
        if (_wcsicmp(ppszArgs[i], L"/S") == 0 || _wcsicmp(ppszArgs[i], L"/VERYSILENT") == 0)
            options.bSilent = true;
        else if (_wcsicmp(ppszArgs[i], L"/LAUNCH") == 0)
            options.bLaunch = true;
    }
    return options;
}
