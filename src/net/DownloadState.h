#pragma once
#include <windows.h>

#include <atomic>
#include <memory>

#include "support/StreamHash.h"

// What one file's download keeps from one attempt to the next: where its body begins in the caller's
// block, the validator and whole length of the response that began it, and whom to tell as its bytes
// arrive. An attempt that broke off part way leaves the bytes it received in the block; the next
// attempt then asks only for the rest ("Range: bytes=N-" with "If-Range: <validator>").
class CDownloadState {
public:
    // Told after each read of a body whose whole length is known: bytes of it held, whole length.
    using PFN_PROGRESS = void (*)(void* pContext, DWORD dwHeld, DWORD dwTotal);

    CDownloadState() { Reset(); }
    CDownloadState(const CDownloadState&) = delete;
    CDownloadState& operator=(const CDownloadState&) = delete;

    // Forgets the body: the next download asks for a whole one.
    void Reset();
    void SetProgress(PFN_PROGRESS pfnProgress, void* pContext);
    // A download that sees this flag set ends between two reads, as failed.
    void SetStop(const std::atomic<bool>* pbStop) { m_pbStop = pbStop; }
    bool StopRequested() const { return m_pbStop != nullptr && m_pbStop->load(); }
    // Unattended: nobody can answer the credentials dialog, so a proxy that asks for credentials fails
    // the download at once and sets *pbCredentialsAsked.
    void SetUnattended(std::atomic<bool>* pbCredentialsAsked) { m_pbCredentialsAsked = pbCredentialsAsked; }
    bool Unattended() const { return m_pbCredentialsAsked != nullptr; }
    // The most bytes the whole body may have (its size in a signed list): a response that declares more
    // fails at once, and a body that goes on past it fails at the first byte too many, which is the
    // last one read. Negative: no bound but the block's.
    void SetBodyLimit(long long llLimit) { m_llBodyLimit = llLimit; }
    long long BodyLimit() const { return m_llBodyLimit; }
    // The last download failed for a body longer than the limit.
    bool m_bPastLimit = false;
    void NoteCredentialsAsked() const
    {
        if (m_pbCredentialsAsked != nullptr)
            *m_pbCredentialsAsked = true;
    }
    // Notes the response that begins a body at offset nBodyStart of the block.
    void BeginBody(int nBodyStart, const WCHAR* pszETag, const WCHAR* pszLastModified, bool bTotal, DWORD dwTotal);
    // True when a block whose count is nLength holds a start of the body that a Range request can
    // continue: a validator, a known whole length, and some but not all of the body.
    bool CanResume(int nLength) const;
    DWORD Held(int nLength) const;
    void ReportProgress(int nLength) const;

    // With a release key: the body's SHA-256 is taken as its bytes arrive (see CStreamHash).
    void SetHashing(bool bHashing);
    bool Hashing() const { return m_pHash != nullptr; }
    // The block now holds nLength bytes at pBlock, the body from m_nBodyStart on.
    void NoteBytes(const BYTE* pBlock, int nLength);
    // The block is about to move or change: nothing may read it until the next NoteBytes.
    void DetachBlock();
    // The SHA-256 of the body that the block at pBlock holds up to nLength; false without hashing or
    // when it cannot be had (the caller then hashes the bytes itself).
    bool BodyDigest(const BYTE* pBlock, int nLength, BYTE (&digest)[SHA256_DIGEST_BYTES]);

    int m_nBodyStart;
    WCHAR m_szValidator[128]; // empty: the response gave nothing If-Range can carry
    bool m_bTotal;
    DWORD m_dwTotal;

private:
    PFN_PROGRESS m_pfnProgress = nullptr;
    void* m_pContext = nullptr;
    const std::atomic<bool>* m_pbStop = nullptr;
    std::atomic<bool>* m_pbCredentialsAsked = nullptr;
    long long m_llBodyLimit = -1;
    std::unique_ptr<CStreamHash> m_pHash;
};

// The value If-Range carries: a strong ETag, else Last-Modified (a weak ETag never matches a range
// request); false when there is none or it does not fit.
bool ChooseValidator(const WCHAR* pszETag, const WCHAR* pszLastModified, WCHAR* pszValidator, size_t cchValidator);

// True when a 206's Content-Range ("bytes F-L/T") carries exactly the rest of a body of dwTotal
// bytes from byte dwFrom on.
bool ContinuesBody(const WCHAR* pszContentRange, DWORD dwFrom, DWORD dwTotal);

// The request headers that ask for the rest of a body from byte dwFrom, if it is still the same body.
bool FormatResumeHeaders(WCHAR* pszHeaders, size_t cchHeaders, DWORD dwFrom, const WCHAR* pszValidator);
