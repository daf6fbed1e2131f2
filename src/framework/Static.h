#pragma once
#include <windows.h>

// A static (label) control owned by an object. The parent reflects WM_CTLCOLORSTATIC to the
// control object (ReflectCtlColor), so a derived label can choose its own colours.
class CStatic {
public:
    CStatic() = default;
    virtual ~CStatic();
    CStatic(const CStatic&) = delete;
    CStatic& operator=(const CStatic&) = delete;

    BOOL Create(const WCHAR* pszText, DWORD dwStyle, const RECT& rc, HWND hWndParent, UINT nID);
    void DestroyWindow();
    HWND GetSafeHwnd() const { return m_hWnd; }
    // True while the control's window exists (another thread may be destroying it).
    bool IsWindowAlive() const { return m_hWnd != nullptr && IsWindow(m_hWnd); }

    // Answers a control-colour request for this control; null leaves it to the system.
    virtual HBRUSH CtlColor(HDC hDC);
    // Gives a WM_CTLCOLORSTATIC that a parent received to the CStatic object it belongs to.
    static bool ReflectCtlColor(WPARAM wParam, LPARAM lParam, LRESULT& lResult);

protected:
    HWND m_hWnd = nullptr;
};
