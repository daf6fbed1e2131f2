#pragma once
#include <windows.h>

#include <string>

// The shared rules (core/rules) speak char16_t; Windows' WCHAR is the same 16-bit unit under another
// type. These pass text between the two at the Windows programs' edges.

static_assert(sizeof(WCHAR) == sizeof(char16_t), "WCHAR is a UTF-16 unit");

inline std::u16string ToU16(const std::wstring& strText)
{
    return std::u16string(strText.begin(), strText.end());
}

inline std::wstring FromU16(const std::u16string& strText)
{
    return std::wstring(strText.begin(), strText.end());
}

// The same zero-terminated units, seen as the other type.
inline const char16_t* AsU16(const WCHAR* psz)
{
    return reinterpret_cast<const char16_t*>(psz);
}

inline const WCHAR* AsWide(const char16_t* psz)
{
    return reinterpret_cast<const WCHAR*>(psz);
}
