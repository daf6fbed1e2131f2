#include "core/SetupDlg.h"

#include "support/GdiplusInc.h"
#include "ui/SkinLayout.h"

namespace {

// An image counts only while GDI+ reports it healthy (reading the status also resets it).
bool IsUsable(Gdiplus::Image* pImage)
{
    return pImage != nullptr && pImage->GetLastStatus() == Gdiplus::Ok;
}

class CPaintDC {
public:
    explicit CPaintDC(HWND hWnd)
        : m_hWnd(hWnd)
        , m_hDC(BeginPaint(hWnd, &m_ps))
    {
    }
    ~CPaintDC() { EndPaint(m_hWnd, &m_ps); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    HDC Get() const { return m_hDC; }

private:
    HWND m_hWnd;
    PAINTSTRUCT m_ps;
    HDC m_hDC;
};

} // namespace

void CSetupDlg::OnPaint()
{
    CPaintDC dc(m_hWnd);
    if (!GdiplusStarted())
        return;
    Gdiplus::Graphics screen(dc.Get());
    RECT rcClient;
    GetClientRect(m_hWnd, &rcClient);
    const INT nWidth = rcClient.right - rcClient.left;
    const INT nHeight = rcClient.bottom - rcClient.top;

    // The face is composed off screen and copied in one draw, so a partly drawn face never shows.
    Gdiplus::Bitmap offscreen(nWidth, nHeight, PixelFormat32bppARGB);
    if (offscreen.GetLastStatus() != Gdiplus::Ok)
        return;
    Gdiplus::Graphics canvas(&offscreen);
    if (canvas.GetLastStatus() != Gdiplus::Ok)
        return;
    canvas.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);

    Gdiplus::Image* const backgrounds[]
        = {m_pImgReady.get(), m_pImgSlide1.get(), m_pImgSlide2.get(), m_pImgSlide3.get(), m_pImgSlide4.get()};
    const int nProgress = m_nProgress.load();
    Gdiplus::Image* pBackground = backgrounds[SelectBackground(m_nState, nProgress)];
    if (!IsUsable(pBackground))
        return;
    canvas.DrawImage(pBackground, Gdiplus::Rect(0, 0, nWidth, nHeight), 0, 0, static_cast<INT>(pBackground->GetWidth()),
        static_cast<INT>(pBackground->GetHeight()), Gdiplus::UnitPixel);

    if (m_nState == 1) {
        if (!IsUsable(m_pImgTrack.get()))
            return;
        canvas.DrawImage(m_pImgTrack.get(),
            Gdiplus::Rect(PROGRESS_BAR_X, PROGRESS_BAR_Y, PROGRESS_BAR_WIDTH, PROGRESS_BAR_HEIGHT), 0, 0,
            static_cast<INT>(m_pImgTrack->GetWidth()), static_cast<INT>(m_pImgTrack->GetHeight()), Gdiplus::UnitPixel);
        const INT nFill = FillWidth(m_nProgress.load());
        if (!IsUsable(m_pImgFill.get()))
            return;
        // The fill is cut from the left of its image, not squeezed; only its height is stretched.
        canvas.DrawImage(m_pImgFill.get(), Gdiplus::Rect(PROGRESS_BAR_X, PROGRESS_BAR_Y, nFill, PROGRESS_BAR_HEIGHT), 0,
            0, nFill, static_cast<INT>(m_pImgFill->GetHeight()), Gdiplus::UnitPixel);
    }

    screen.DrawImage(&offscreen, 0, 0, nWidth, nHeight);
}
