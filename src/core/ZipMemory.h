#pragma once
#include <windows.h>

#include "unzip.h"

// An archive that is a block of memory, for minizip: the block is read where it lies, never copied,
// and must outlive the archive opened on it.
struct ZipMemoryBlock {
    const BYTE* pbData = nullptr;
    ZPOS64_T qwSize = 0;
    ZPOS64_T qwPosition = 0;
};

// Fills pFuncs so that unzOpen2_64 opens pBlock (the name it is given is not looked at).
void FillMemoryFileFuncs(zlib_filefunc64_def* pFuncs, ZipMemoryBlock* pBlock);
