#pragma once
#include "Diagnostics.h"
#include "Signing.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>

namespace publish {

enum class FetchResult {
    Fetched,
    Missing,
    PastLimit, // the file is longer than the caller takes; no more of it was read
    Failed, // `error` says why
};

// Where a release is read from: a folder on disk or the base URL the installer downloads from.
class ReleaseSource {
public:
    virtual ~ReleaseSource() = default;
    // `limit` bounds what a server may send. A folder's files are on this machine and read whole, so that
    // a file of another size than its line shows its size.
    virtual FetchResult Fetch(const std::string& name, uint64_t limit, std::string& bytes, std::string& error) = 0;
};

std::unique_ptr<ReleaseSource> OpenReleaseSource(const std::string& location, std::string& error);

// A release read through its signed list, as the installer built with the list's key reads it: a
// fetched file whose size or SHA-256 differs from its line, or that has none, is refused.
class SignedSource : public ReleaseSource {
public:
    SignedSource(ReleaseSource& source, ReleaseList list);
    // A listed file is read to at most its listed size.
    FetchResult Fetch(const std::string& name, uint64_t limit, std::string& bytes, std::string& error) override;
    // Fetches and checks the listed files that nothing has read yet.
    void CheckUnfetched(Diagnostics& diagnostics);

private:
    ReleaseSource& m_source;
    ReleaseList m_list;
    std::set<std::string> m_fetched;
};

// Verifies release.sha256.sig over release.sha256 with the public key `point` and reads the list;
// null with the reason in `diagnostics` when either fails or the list has expired by `now`.
std::unique_ptr<SignedSource> OpenSignedSource(
    ReleaseSource& source, const std::string& point, int64_t now, Diagnostics& diagnostics);

// Reads the release as the installer will, on each kind of machine; false when an installation would fail.
bool CheckRelease(ReleaseSource& source, Diagnostics& diagnostics);

} // namespace publish
