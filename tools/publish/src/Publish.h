#pragma once
#include "Description.h"
#include "Diagnostics.h"
#include "Rules.h"
#include "Signing.h"

namespace publish {

struct PlannedFile {
    std::string source;
    std::string installedPath; // "/" separated, UTF-8
    std::string storedName; // code page 936
    uint32_t crc = 0;
    int64_t modified = 0;
    uint32_t attributes = 0;
};

struct PlannedPackage {
    std::string name;
    int32_t kind = 0;
    int32_t value = 0;
    std::vector<PlannedFile> files;
};

struct ReleasePlan {
    std::string uninstaller;
    std::vector<PlannedPackage> packages;
    std::vector<InstalledFile> verified; // the CRC list, in order
};

// Reads every source file and applies the installer's rules; false when anything is refused.
bool PlanRelease(const ReleaseDescription& description, ReleasePlan& plan, Diagnostics& diagnostics);

std::string ManifestFile(const ReleasePlan& plan);
std::string CrcListFile(const ReleasePlan& plan);

// Builds the release beside `output` and then puts it in its place; on failure `output` is untouched.
// With a key the release also holds release.sha256, carrying `terms`, and its signature, made in the same folder.
bool WriteRelease(const ReleasePlan& plan, const std::string& output, Diagnostics& diagnostics,
    const SigningKey* key = nullptr, const ReleaseTerms& terms = ReleaseTerms());

// The serial for a signed release published into `output`: `requested`, or with 0 one above the serial of
// the release there (0 for none, or for a list without one). Serials only grow, so that no release can pass
// for a later one than it is; a serial not above the one there is refused.
bool NextSerial(const std::string& output, uint64_t requested, uint64_t& serial, std::string& error);

} // namespace publish
