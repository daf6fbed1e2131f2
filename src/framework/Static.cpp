#include "framework/Static.h"

namespace {
const WCHAR s_szOwnerProp[] = L"CStatic.Owner";
} // namespace

CStatic::~CStatic()
{
    DestroyWindow();
}

BOOL CStatic::Create(const WCHAR* pszText, DWORD dwStyle, const RECT& rc, HWND hWndParent, UINT nID)
{
    m_hWnd = CreateWindowExW(0, L"STATIC", pszText, dwStyle | WS_CHILD, rc.left, rc.top, rc.right - rc.left,
        rc.bottom - rc.top, hWndParent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), GetModuleHandleW(nullptr),
        nullptr);
    if (m_hWnd == nullptr)
        return FALSE;
    SetPropW(m_hWnd, s_szOwnerProp, this);
    return TRUE;
}

void CStatic::DestroyWindow()
{
    if (m_hWnd != nullptr && IsWindow(m_hWnd)) {
        RemovePropW(m_hWnd, s_szOwnerProp);
        ::DestroyWindow(m_hWnd);
    }
    m_hWnd = nullptr;
}

HBRUSH CStatic::CtlColor(HDC)
{
    return nullptr;
}

bool CStatic::ReflectCtlColor(WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    HWND hCtl = reinterpret_cast<HWND>(lParam);
    CStatic* pCtl = static_cast<CStatic*>(GetPropW(hCtl, s_szOwnerProp));
    if (pCtl == nullptr)
        return false;
    HBRUSH hBrush = pCtl->CtlColor(reinterpret_cast<HDC>(wParam));
    if (hBrush == nullptr)
        return false;
    lResult = reinterpret_cast<LRESULT>(hBrush);
    return true;
}
