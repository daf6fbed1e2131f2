#include "ui/MsgStatic.h"

MsgStatic::MsgStatic()
    : m_crText(RGB(51, 47, 46))
    , m_brBack(CreateSolidBrush(RGB(255, 255, 255)))
{
}

MsgStatic::~MsgStatic()
{
    DestroyWindow();
}

HBRUSH MsgStatic::CtlColor(HDC hDC)
{
    ::SetTextColor(hDC, m_crText.load());
    SetBkMode(hDC, TRANSPARENT);
    return static_cast<HBRUSH>(m_brBack.Get());
}
