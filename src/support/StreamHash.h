#pragma once
#include <windows.h>

#include "support/Cng.h"
#include "support/Handles.h"

// The SHA-256 of a body taken while its bytes arrive, on a thread of its own beside the read loop:
// the digest is ready moments after the last byte, where a pass over the whole body afterwards
// would keep the run waiting for it.
class CStreamHash {
public:
    CStreamHash() = default;
    ~CStreamHash();
    CStreamHash(const CStreamHash&) = delete;
    CStreamHash& operator=(const CStreamHash&) = delete;

    // Forgets what was hashed: the next bytes begin another body.
    void Reset();
    // The body now has cb bytes at pBody; the bytes given before are the same ones, perhaps moved.
    void Extend(const BYTE* pBody, size_t cb);
    // Returns once no byte of the body is being read, and none is read again until the next Extend:
    // the caller may then move, change or free the block.
    void Detach();
    // The digest of the cb bytes of the body at pBody (where it lies now), of which the thread has
    // hashed what it could; after it only Reset makes the object take bytes again.
    NTSTATUS Finish(const BYTE* pBody, size_t cb, BYTE (&digest)[SHA256_DIGEST_BYTES]);

private:
    static DWORD WINAPI ThreadProc(LPVOID pParam);
    void Work();
    NTSTATUS HashData(const BYTE* pData, size_t cb);
    // Called with the lock held.
    void WaitIdle();
    bool EnsureHash();

    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_wake = CONDITION_VARIABLE_INIT; // enough new bytes, or the end of the object
    CONDITION_VARIABLE m_idle = CONDITION_VARIABLE_INIT; // a pass has ended: the body is not read, less is left
    const BYTE* m_pBody = nullptr; // nullptr while detached
    size_t m_cbGiven = 0;
    size_t m_cbHashed = 0;
    bool m_bBusy = false;
    bool m_bQuit = false;
    bool m_bFinished = false;
    bool m_bThreadTried = false;
    NTSTATUS m_status = 0;
    CBcryptAlg m_alg;
    CBcryptHash m_hash;
    CKernelHandle m_thread;
};
