#include "core/ZipMemory.h"

#include <cstring>

namespace {

voidpf ZCALLBACK OpenBlock(voidpf opaque, const void*, int nMode)
{
    // Read only: an archive in memory is never written.
    if ((nMode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
        return nullptr;
    ZipMemoryBlock* pBlock = static_cast<ZipMemoryBlock*>(opaque);
    pBlock->qwPosition = 0;
    return pBlock;
}

uLong ZCALLBACK ReadBlock(voidpf, voidpf stream, void* pBuf, uLong cb)
{
    ZipMemoryBlock* pBlock = static_cast<ZipMemoryBlock*>(stream);
    ZPOS64_T qwLeft = pBlock->qwSize - pBlock->qwPosition;
    uLong cbRead = qwLeft < cb ? static_cast<uLong>(qwLeft) : cb;
    memcpy(pBuf, pBlock->pbData + pBlock->qwPosition, cbRead);
    pBlock->qwPosition += cbRead;
    return cbRead;
}

uLong ZCALLBACK WriteBlock(voidpf, voidpf, const void*, uLong)
{
    return 0;
}

ZPOS64_T ZCALLBACK TellBlock(voidpf, voidpf stream)
{
    return static_cast<ZipMemoryBlock*>(stream)->qwPosition;
}

long ZCALLBACK SeekBlock(voidpf, voidpf stream, ZPOS64_T qwOffset, int nOrigin)
{
    ZipMemoryBlock* pBlock = static_cast<ZipMemoryBlock*>(stream);
    ZPOS64_T qwBase = 0;
    switch (nOrigin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        break;
    case ZLIB_FILEFUNC_SEEK_CUR:
        qwBase = pBlock->qwPosition;
        break;
    case ZLIB_FILEFUNC_SEEK_END:
        qwBase = pBlock->qwSize;
        break;
    default:
        return -1;
    }
    // The offsets come from the archive's own records: one that leads past the block fails.
    if (qwOffset > pBlock->qwSize - qwBase)
        return -1;
    pBlock->qwPosition = qwBase + qwOffset;
    return 0;
}

int ZCALLBACK CloseBlock(voidpf, voidpf)
{
    return 0;
}

int ZCALLBACK BlockError(voidpf, voidpf)
{
    return 0;
}

} // namespace

void FillMemoryFileFuncs(zlib_filefunc64_def* pFuncs, ZipMemoryBlock* pBlock)
{
    pFuncs->zopen64_file = OpenBlock;
    pFuncs->zread_file = ReadBlock;
    pFuncs->zwrite_file = WriteBlock;
    pFuncs->ztell64_file = TellBlock;
    pFuncs->zseek64_file = SeekBlock;
    pFuncs->zclose_file = CloseBlock;
    pFuncs->zerror_file = BlockError;
    pFuncs->opaque = pBlock;
}
