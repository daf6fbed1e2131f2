#include "ui/MsgStatic.h"

MsgStatic::MsgStatic()
    : m_crText(RGB(51, 47, 46))
    , m_brBack(CreateSolidBrush(RGB(255, 255, 255)))
{
}

MsgStatic::~MsgStatic()
{
    DestroyWindow();
    if (m_brBack != nullptr)
        DeleteObject(m_brBack);
}

HBRUSH MsgStatic::CtlColor(HDC hDC)
{
    ::SetTextColor(hDC, m_crText.load());
    SetBkMode(hDC, TRANSPARENT);
    return m_brBack;
}
