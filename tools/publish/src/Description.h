#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The release description: a small text file naming the packages, their kinds and their files.
//
//   # comment
//   set NAME VALUE                 a variable, used as ${NAME}; --set NAME=VALUE overrides it
//   uninstaller PATH               the program published as UnInstall.exe
//   package NAME KIND [VALUE]      starts a package: its file name, kind and manifest value (default 0)
//     folder SOURCE [DEST]         every file below SOURCE, installed below DEST (default: the install folder)
//     file SOURCE [DEST]           one file, installed as DEST (default: its own name)
//
// Fields are separated by blanks; "double quotes" keep blanks in a field. Relative SOURCE paths start from
// the description file's folder; DEST paths are relative to the install folder, with "/".
namespace publish {

struct SourceEntry {
    bool isFolder = false;
    std::string source;
    std::string destination;
    int line = 0;
};

struct PackageDescription {
    std::string name;
    int32_t kind = 0;
    int32_t value = 0;
    int line = 0;
    std::vector<SourceEntry> sources;
};

struct ReleaseDescription {
    std::string uninstaller;
    std::vector<PackageDescription> packages;
    // Read-only source files are published read-only (--keep-read-only); otherwise writable, since
    // installers before the one that replaces read-only files could not install over them again.
    bool keepReadOnly = false;
};

// Messages in `errors` begin with "origin:line:".
bool ParseDescription(const std::string& text, const std::string& origin, const std::string& baseFolder,
    const std::map<std::string, std::string>& overrides, ReleaseDescription& release, std::vector<std::string>& errors);

} // namespace publish
