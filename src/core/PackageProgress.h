#pragma once
#include <windows.h>

// The progress after the package loop has handled nHandled of nCount manifest entries, skipped ones
// included: the integer part of nHandled x 95 / nCount.
int PackageEndProgress(int nHandled, int nCount);

// The share of the progress one package owns while its body arrives: from the value shown when its
// first attempt began to the value its completion sets. The value follows the bytes held of the
// declared length and stays below the completion value, which only the installed package sets. It
// never goes back (a body begun anew keeps what was shown), and is given out at most once every
// INTERVAL_MS, so that painting never costs download time.
class CPackageProgress {
public:
    static const ULONGLONG INTERVAL_MS = 100;

    void Begin(int nShown, int nEnd, ULONGLONG ullNow);
    // The value to show now that dwHeld of dwTotal bytes have arrived, or -1 when there is nothing
    // new to show.
    int Next(DWORD dwHeld, DWORD dwTotal, ULONGLONG ullNow);

private:
    int m_nStart = 0;
    int m_nEnd = 0;
    int m_nShown = 0;
    ULONGLONG m_ullShown = 0;
};
