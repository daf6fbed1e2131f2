#pragma once
#include <algorithm>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "core/rules/ZipItems.h"

// Everything the publisher needs from the operating system. Paths are UTF-8 with "/" separators on both
// platforms; each implementation converts at its own edge.
namespace publish {

struct FileInfo {
    bool isFolder = false;
    uint64_t size = 0;
    int64_t modified = 0; // seconds since 1970-01-01 UTC
    uint32_t attributes = 0; // read-only, hidden and system bits (ZIP_ATTRIBUTE_*)
};

std::vector<std::string> CommandLineArguments(int argc, char** argv);

bool IsAbsolutePath(const std::string& path);
bool PathExists(const std::string& path);
bool GetFileInfo(const std::string& path, FileInfo& info, std::string& error);
// Appends every regular file below root/prefix to out, as relative paths with "/" from root, in no order.
bool ListFilesBelow(
    const std::string& root, const std::string& prefix, std::vector<std::string>& out, std::string& error);

// Every regular file below the folder, as relative paths with "/", sorted by byte value.
inline bool ListFiles(const std::string& folder, std::vector<std::string>& relativePaths, std::string& error)
{
    relativePaths.clear();
    if (!ListFilesBelow(folder, "", relativePaths, error))
        return false;
    std::sort(relativePaths.begin(), relativePaths.end());
    return true;
}
bool ReadWholeFile(const std::string& path, std::string& data, std::string& error);
bool WriteWholeFile(const std::string& path, const std::string& data, std::string& error);
bool MakeFolder(const std::string& path, std::string& error);
// A new empty folder next to target (same parent), so that a rename can put it in target's place.
bool MakeSiblingTempFolder(const std::string& target, std::string& tempFolder, std::string& error);
// Puts the complete folder `ready` in the place of `target`; on success the old target is gone.
bool ReplaceFolder(const std::string& ready, const std::string& target, std::string& error);
void RemoveTree(const std::string& path);
std::string TempRoot();

// The installer converts item names from the ANSI code page of Chinese Windows, 936.
bool ToCodePage936(const std::string& utf8, std::string& ansi);
bool FromCodePage936(const std::string& ansi, std::string& utf8);
bool ToLocalCalendar(int64_t time, std::tm& local);
// This machine's clock, in seconds since 1970-01-01 UTC.
int64_t CurrentTime();

} // namespace publish
