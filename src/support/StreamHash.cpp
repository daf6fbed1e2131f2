#include "support/StreamHash.h"

#include <algorithm>

namespace {

// The thread hashes in steps of at least this: fewer wake-ups than one per read of the loop.
const size_t HASH_STEP = 256 << 10;
// Bytes given and not yet hashed at the most. Wine's CNG hashes at about 270 MiB/s, a loopback server
// can deliver faster: the read loop then waits for the hash, so that the digest is always within
// some milliseconds of the last byte instead of a backlog that grows with the body.
const size_t MAX_BACKLOG = 4 << 20;
// BCryptHashData takes a ULONG count.
const size_t MAX_SLICE = 0x40000000;
// A digest asked for twice, or of fewer bytes than were given: no digest of that body exists.
const NTSTATUS STATUS_NOT_THAT_BODY = static_cast<NTSTATUS>(0xC000000DL); // STATUS_INVALID_PARAMETER

} // namespace

CStreamHash::~CStreamHash()
{
    AcquireSRWLockExclusive(&m_lock);
    m_bQuit = true;
    WakeAllConditionVariable(&m_wake);
    ReleaseSRWLockExclusive(&m_lock);
    if (m_thread)
        WaitForSingleObject(m_thread.Get(), INFINITE);
}

DWORD WINAPI CStreamHash::ThreadProc(LPVOID pParam)
{
    static_cast<CStreamHash*>(pParam)->Work();
    return 0;
}

void CStreamHash::Work()
{
    AcquireSRWLockExclusive(&m_lock);
    for (;;) {
        while (!m_bQuit && (m_pBody == nullptr || m_cbGiven - m_cbHashed < HASH_STEP || !BCRYPT_SUCCESS(m_status)))
            SleepConditionVariableSRW(&m_wake, &m_lock, INFINITE, 0);
        if (m_bQuit)
            break;
        const BYTE* pFrom = m_pBody + m_cbHashed;
        const size_t cb = m_cbGiven - m_cbHashed;
        m_bBusy = true;
        ReleaseSRWLockExclusive(&m_lock);
        NTSTATUS status = HashData(pFrom, cb);
        AcquireSRWLockExclusive(&m_lock);
        m_status = status;
        m_cbHashed += cb;
        m_bBusy = false;
        WakeAllConditionVariable(&m_idle);
    }
    ReleaseSRWLockExclusive(&m_lock);
}

NTSTATUS CStreamHash::HashData(const BYTE* pData, size_t cb)
{
    NTSTATUS status = 0;
    for (size_t nDone = 0; BCRYPT_SUCCESS(status) && nDone < cb;) {
        ULONG cbSlice = static_cast<ULONG>(std::min(cb - nDone, MAX_SLICE));
        status = BCryptHashData(m_hash.Get(), const_cast<PUCHAR>(pData + nDone), cbSlice, 0);
        nDone += cbSlice;
    }
    return status;
}

void CStreamHash::WaitIdle()
{
    while (m_bBusy)
        SleepConditionVariableSRW(&m_idle, &m_lock, INFINITE, 0);
}

bool CStreamHash::EnsureHash()
{
    // A failure stays until the next body.
    if (!BCRYPT_SUCCESS(m_status) || m_hash)
        return BCRYPT_SUCCESS(m_status);
    if (!m_alg)
        m_status = BCryptOpenAlgorithmProvider(m_alg.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    // Windows 7 and later allocate the hash object themselves when given none.
    if (BCRYPT_SUCCESS(m_status))
        m_status = BCryptCreateHash(m_alg.Get(), m_hash.Put(), nullptr, 0, nullptr, 0, 0);
    return BCRYPT_SUCCESS(m_status);
}

void CStreamHash::Reset()
{
    AcquireSRWLockExclusive(&m_lock);
    WaitIdle();
    m_pBody = nullptr;
    m_cbGiven = 0;
    m_cbHashed = 0;
    m_status = 0;
    m_bFinished = false;
    m_hash.Close();
    ReleaseSRWLockExclusive(&m_lock);
}

void CStreamHash::Extend(const BYTE* pBody, size_t cb)
{
    AcquireSRWLockExclusive(&m_lock);
    if (!m_bFinished && EnsureHash() && cb >= m_cbHashed) {
        m_pBody = pBody;
        m_cbGiven = cb;
        if (!m_bThreadTried) {
            // Without a thread of its own the bytes are hashed when the digest is asked for.
            m_bThreadTried = true;
            m_thread.Attach(CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
        }
        if (m_cbGiven - m_cbHashed >= HASH_STEP)
            WakeConditionVariable(&m_wake);
        while (m_thread && BCRYPT_SUCCESS(m_status) && m_cbGiven - m_cbHashed > MAX_BACKLOG)
            SleepConditionVariableSRW(&m_idle, &m_lock, INFINITE, 0);
    }
    ReleaseSRWLockExclusive(&m_lock);
}

void CStreamHash::Detach()
{
    AcquireSRWLockExclusive(&m_lock);
    WaitIdle();
    m_pBody = nullptr;
    ReleaseSRWLockExclusive(&m_lock);
}

NTSTATUS CStreamHash::Finish(const BYTE* pBody, size_t cb, BYTE (&digest)[SHA256_DIGEST_BYTES])
{
    AcquireSRWLockExclusive(&m_lock);
    WaitIdle();
    m_pBody = nullptr;
    if (m_bFinished || cb < m_cbGiven)
        m_status = STATUS_NOT_THAT_BODY;
    // The rest, at most a step unless the thread fell behind, on the calling thread.
    else if (EnsureHash() && cb > m_cbHashed)
        m_status = HashData(pBody + m_cbHashed, cb - m_cbHashed);
    if (BCRYPT_SUCCESS(m_status))
        m_status = BCryptFinishHash(m_hash.Get(), digest, SHA256_DIGEST_BYTES, 0);
    m_bFinished = true;
    m_cbGiven = m_cbHashed = cb;
    NTSTATUS status = m_status;
    ReleaseSRWLockExclusive(&m_lock);
    return status;
}
