#pragma once
#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <wininet.h>

#include <utility>

// Move-only owners for the handle kinds the installer opens, so that every early return closes
// what was opened without a line of its own.

template <typename Traits> class CUniqueHandle {
public:
    using Type = typename Traits::Type;

    CUniqueHandle() = default;
    explicit CUniqueHandle(Type h)
        : m_h(h)
    {
    }
    ~CUniqueHandle() { Close(); }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;
    CUniqueHandle(CUniqueHandle&& other) noexcept
        : m_h(other.Detach())
    {
    }
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept
    {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }

    Type Get() const { return m_h; }
    bool IsValid() const { return m_h != Traits::Invalid(); }
    explicit operator bool() const { return IsValid(); }

    void Attach(Type h)
    {
        Close();
        m_h = h;
    }
    Type Detach() { return std::exchange(m_h, Traits::Invalid()); }
    void Close()
    {
        if (IsValid())
            Traits::Close(std::exchange(m_h, Traits::Invalid()));
    }
    // For APIs that return the handle through an out parameter.
    Type* Put()
    {
        Close();
        return &m_h;
    }

private:
    Type m_h = Traits::Invalid();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { RegCloseKey(h); }
};
struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { InternetCloseHandle(h); }
};
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DeleteObject(h); }
};
struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { LocalFree(h); }
};

struct BcryptAlgTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { BCryptCloseAlgorithmProvider(h, 0); }
};
struct BcryptKeyTraits {
    using Type = BCRYPT_KEY_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { BCryptDestroyKey(h); }
};
struct BcryptHashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { BCryptDestroyHash(h); }
};

using CKernelHandle = CUniqueHandle<KernelHandleTraits>; // events, threads, processes, tokens
using CFileHandle = CUniqueHandle<FileHandleTraits>; // CreateFile, CreateToolhelp32Snapshot
using CFindHandle = CUniqueHandle<FindHandleTraits>; // FindFirstFile
using CRegKey = CUniqueHandle<RegKeyTraits>;
using CInternetHandle = CUniqueHandle<InternetHandleTraits>;
using CGdiObject = CUniqueHandle<GdiObjectTraits>;
using CLocalMemory = CUniqueHandle<LocalMemoryTraits>; // what the system allocated for the caller to free
using CBcryptAlg = CUniqueHandle<BcryptAlgTraits>;
using CBcryptKey = CUniqueHandle<BcryptKeyTraits>;
using CBcryptHash = CUniqueHandle<BcryptHashTraits>;

// A window's device context from GetDC, given back to that window with ReleaseDC.
class CClientDC {
public:
    explicit CClientDC(HWND hWnd)
        : m_hWnd(hWnd)
        , m_hDC(GetDC(hWnd))
    {
    }
    ~CClientDC()
    {
        if (m_hDC != nullptr)
            ReleaseDC(m_hWnd, m_hDC);
    }
    CClientDC(const CClientDC&) = delete;
    CClientDC& operator=(const CClientDC&) = delete;

    HDC Get() const { return m_hDC; }
    explicit operator bool() const { return m_hDC != nullptr; }

private:
    HWND m_hWnd;
    HDC m_hDC;
};

// Owner of one COM interface pointer.
template <typename T> class CComPtr {
public:
    CComPtr() = default;
    ~CComPtr() { Release(); }
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    void Release()
    {
        if (m_p != nullptr)
            std::exchange(m_p, nullptr)->Release();
    }
    T** Put()
    {
        Release();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

private:
    T* m_p = nullptr;
};

// COM for the calling thread, single-threaded apartment, for the life of the scope.
class CComInit {
public:
    CComInit()
        : m_hr(CoInitialize(nullptr))
    {
    }
    ~CComInit()
    {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    CComInit(const CComInit&) = delete;
    CComInit& operator=(const CComInit&) = delete;
    HRESULT Result() const { return m_hr; }

private:
    HRESULT m_hr;
};
