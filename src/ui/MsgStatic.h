#pragma once
#include <atomic>

#include "framework/Static.h"
#include "support/Handles.h"

// A label with its own text colour, drawn transparently on a white background brush.
class MsgStatic : public CStatic {
public:
    MsgStatic();
    ~MsgStatic() override;

    // Takes effect at the label's next repaint, which the following text change brings about.
    void SetTextColor(COLORREF crText) { m_crText = crText; }
    COLORREF GetTextColor() const { return m_crText; }
    HBRUSH CtlColor(HDC hDC) override;

private:
    std::atomic<COLORREF> m_crText; // set by the install threads, read when the label paints
    CGdiObject m_brBack;
};
