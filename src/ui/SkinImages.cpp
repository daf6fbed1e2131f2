#include "core/SetupDlg.h"

#include <cstring>

#include "support/GdiplusInc.h"

bool CSetupDlg::s_bGdiplusStarted = false;

void CSetupDlg::LoadJgpImage(UINT nID, Gdiplus::Image*& pImage)
{
    if (!s_bGdiplusStarted)
        return;
    HMODULE hModule = GetModuleHandleW(nullptr);
    HRSRC hResource = FindResourceW(hModule, MAKEINTRESOURCEW(nID), L"JGP");
    if (hResource == nullptr)
        return;
    DWORD cbImage = SizeofResource(hModule, hResource);
    HGLOBAL hLoaded = LoadResource(hModule, hResource);
    const void* pData = hLoaded != nullptr ? LockResource(hLoaded) : nullptr;
    if (pData == nullptr || cbImage == 0)
        return;

    // The block is never freed: a GDI+ image may read from its stream for as long as it exists.
    HGLOBAL hBlock = GlobalAlloc(GMEM_FIXED, cbImage);
    if (hBlock == nullptr)
        return;
    void* pBlock = GlobalLock(hBlock);
    if (pBlock == nullptr)
        return;
    memcpy(pBlock, pData, cbImage);

    IStream* pStream = nullptr;
    if (CreateStreamOnHGlobal(hBlock, FALSE, &pStream) == S_OK && pStream != nullptr) {
        pImage = new Gdiplus::Image(pStream, FALSE);
        pStream->Release();
    }
    GlobalUnlock(hBlock);
}

void CSetupDlg::ReleaseImages()
{
    for (Gdiplus::Image** ppImage :
        {&m_pImgReady, &m_pImgSlide1, &m_pImgSlide2, &m_pImgSlide3, &m_pImgSlide4, &m_pImgFill, &m_pImgTrack}) {
        delete *ppImage;
        *ppImage = nullptr;
    }
}
