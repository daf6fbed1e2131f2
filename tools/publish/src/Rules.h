#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/rules/Names.h"
#include "core/rules/ServedLists.h"

// What the installer accepts in a release, as plain functions of names, kinds and paths: the shared
// rules (core/rules) applied to what the publisher builds.
namespace publish {

// The installer forms "C:\Larkspire\" + relative path (or "C:\Larkspire/" + item name) in a path buffer.
constexpr const char16_t* kInstallFolder = u"C:\\" INSTALL_FOLDER_NAME "\\";
constexpr size_t kMaxPathUnits = PATH_BUFFER_UNITS - 1;

// The two kinds of machine: with the font the UI package needs (kind 2), without it (kind 3).
struct Machine {
    const char* label;
    int32_t fontKind;
};
constexpr Machine kMachines[] = {{"kinds 1+2", 2}, {"kinds 1+3", 3}};

bool InstalledOn(int32_t kind, const Machine& machine);
bool IsKnownKind(int32_t kind);

// The installer's name sanitising (SanitizeZipItemName), cut to what its path buffer holds.
std::u16string SanitiseItemName(const std::u16string& name);

// The key under which Windows' case-insensitive file system finds a path ("/" and "\" alike).
std::u16string PathKey(const std::u16string& path);

struct ManifestEntry {
    std::u16string name;
    int32_t value = 0;
    int32_t kind = 0;
};
// The manifest's entries, read as the installer reads them; lines that are not exactly three fields are
// reported in `ignored`.
std::vector<ManifestEntry> ParseManifest(const std::u16string& text, std::vector<std::u16string>& ignored);

// Each returns an empty string when the name is fine, else why it is refused.
std::string CheckPackageName(const std::string& name);
// `path` is relative to the install folder, "/" separated, UTF-8. Fills `stored` with the zip item name
// (code page 936 bytes) when the path is fine.
std::string CheckInstalledPath(const std::string& path, std::string& stored);

std::string BackslashPath(const std::string& path);

struct InstalledFile {
    std::u16string path;
    uint32_t crc = 0;
    size_t package = 0;
};

struct PackageContent {
    std::string name;
    int32_t kind = 0;
    std::vector<InstalledFile> files;
};

// Two packages (or one package twice) writing the same file on one machine.
struct Overlap {
    std::u16string path;
    size_t earlier = 0;
    size_t later = 0;
};

// What one machine holds after installing the packages in order, keyed by PathKey; a later package
// replaces what an earlier one wrote.
std::map<std::u16string, InstalledFile> InstallOn(
    const std::vector<PackageContent>& packages, const Machine& machine, std::vector<Overlap>& overlaps);

// Files that every machine ends up with, with the same content, in package order: the only ones the
// CRC list may name, since the installer checks every listed file. The rest go to `differing`.
std::vector<InstalledFile> FilesOnEveryMachine(
    const std::vector<PackageContent>& packages, std::vector<InstalledFile>& differing);

} // namespace publish
