#include "core/SetupDlg.h"

#include <cstring>

#include "support/GdiplusSession.h"
#include "support/Handles.h"

bool CSetupDlg::GdiplusStarted() const
{
    return m_pGdiplus != nullptr && m_pGdiplus->Started();
}

std::unique_ptr<Gdiplus::Image> CSetupDlg::LoadJgpImage(UINT nID) const
{
    if (!GdiplusStarted())
        return nullptr;
    HMODULE hModule = GetModuleHandleW(nullptr);
    HRSRC hResource = FindResourceW(hModule, MAKEINTRESOURCEW(nID), L"JGP");
    if (hResource == nullptr)
        return nullptr;
    DWORD cbImage = SizeofResource(hModule, hResource);
    HGLOBAL hLoaded = LoadResource(hModule, hResource);
    const void* pData = hLoaded != nullptr ? LockResource(hLoaded) : nullptr;
    if (pData == nullptr || cbImage == 0)
        return nullptr;

    // The block is never freed: a GDI+ image may read from its stream for as long as it exists.
    HGLOBAL hBlock = GlobalAlloc(GMEM_FIXED, cbImage);
    if (hBlock == nullptr)
        return nullptr;
    void* pBlock = GlobalLock(hBlock);
    if (pBlock == nullptr)
        return nullptr;
    memcpy(pBlock, pData, cbImage);

    std::unique_ptr<Gdiplus::Image> pImage;
    CComPtr<IStream> stream;
    if (CreateStreamOnHGlobal(hBlock, FALSE, stream.Put()) == S_OK && stream)
        pImage = std::make_unique<Gdiplus::Image>(stream.Get(), FALSE);
    GlobalUnlock(hBlock);
    return pImage;
}

void CSetupDlg::ReleaseImages()
{
    for (std::unique_ptr<Gdiplus::Image>* pImage :
        {&m_pImgReady, &m_pImgSlide1, &m_pImgSlide2, &m_pImgSlide3, &m_pImgSlide4, &m_pImgFill, &m_pImgTrack})
        pImage->reset();
}
