#include "support/FileWrite.h"

bool WriteAll(HANDLE hFile, const void* pvData, DWORD cb)
{
    const BYTE* pb = static_cast<const BYTE*>(pvData);
    while (cb > 0) {
        DWORD cbWritten = 0;
        if (!WriteFile(hFile, pb, cb, &cbWritten, nullptr))
            return false;
        if (cbWritten == 0 || cbWritten > cb) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        pb += cbWritten;
        cb -= cbWritten;
    }
    return true;
}
