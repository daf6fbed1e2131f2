#include "Rules.h"

#include "Platform.h"
#include "core/rules/Text.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace publish {

namespace {

// A device name in a component as UTF-8.
bool IsDeviceComponent(const std::string& component)
{
    std::u16string wide;
    return Utf8ToUtf16(component, wide) && IsDeviceName(wide);
}

std::string CheckComponent(const std::string& component)
{
    if (component.empty())
        return "has an empty folder name";
    if (component == "." || component == "..")
        return "has a \"" + component + "\" folder part, which the installer drops or cannot create";
    for (unsigned char c : component) {
        if (c < 0x20 || std::string("<>:\"|?*;").find(static_cast<char>(c)) != std::string::npos)
            return "contains a character Windows or the file lists cannot carry ("
                + (c < 0x20 ? "control character " + std::to_string(c) : std::string(1, static_cast<char>(c))) + ")";
    }
    if (component.back() == '.' || component.back() == ' ')
        return "has a name part \"" + component + "\" ending in a dot or blank, which Windows drops";
    if (IsDeviceComponent(component))
        return "has a name part \"" + component + "\" that Windows reserves for a device";
    return std::string();
}

} // namespace

bool IsKnownKind(int32_t kind)
{
    return kind >= 1 && kind <= 3;
}

bool InstalledOn(int32_t kind, const Machine& machine)
{
    return kind == 1 || kind == machine.fontKind;
}

std::u16string SanitiseItemName(const std::u16string& name)
{
    return std::u16string(SanitizeZipItemName(name.c_str())).substr(0, kMaxPathUnits);
}

std::u16string PathKey(const std::u16string& path)
{
    std::u16string key;
    for (char16_t c : path) {
        if (c == u'/')
            c = u'\\';
        else if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)
            || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) || (c >= 0x430 && c <= 0x44F))
            c = static_cast<char16_t>(c - 0x20);
        else if (c >= 0x450 && c <= 0x45F)
            c = static_cast<char16_t>(c - 0x50);
        key += c;
    }
    return key;
}

std::vector<ManifestEntry> ParseManifest(const std::u16string& text, std::vector<std::u16string>& ignored)
{
    std::vector<ManifestEntry> entries;
    for (const ManifestLine& line : SplitManifest(text, &ignored))
        entries.push_back({line.strName, ReadSignedDecimal(line.strValue), ReadSignedDecimal(line.strKind)});
    return entries;
}

std::string CheckPackageName(const std::string& name)
{
    if (name.empty())
        return "is empty";
    if (name.size() > MAX_PACKAGE_NAME_UNITS)
        return "is " + std::to_string(name.size()) + " characters long; the installer holds at most "
            + std::to_string(MAX_PACKAGE_NAME_UNITS);
    if (name.find_first_of("/\\") != std::string::npos)
        return "has a folder part; the installer saves packages straight into its temporary folder";
    if (name.find(';') != std::string::npos)
        return "contains \";\", the field separator of orbsetup.txt";
    for (unsigned char c : name) {
        // The name goes unescaped into the download URL and becomes a file name.
        if (!std::isalnum(c) && std::string("._-+~()!").find(static_cast<char>(c)) == std::string::npos)
            return "contains \"" + std::string(1, static_cast<char>(c))
                + "\"; use ASCII letters, digits and . _ - + ~ ( ) ! only";
    }
    if (name.back() == '.' || IsDeviceComponent(name))
        return "is not a usable Windows file name";
    return std::string();
}

std::string CheckInstalledPath(const std::string& path, std::string& stored)
{
    std::u16string wide;
    if (!Utf8ToUtf16(path, wide))
        return "is not valid UTF-8";
    if (!path.empty() && (path[0] == '/' || path[0] == '\\'))
        return "begins with a separator, which the installer drops";
    if (path.size() >= 2 && path[1] == ':')
        return "begins with a drive, which the installer drops";
    if (path.find('\\') != std::string::npos)
        return "contains \"\\\"; use \"/\" between folders";
    for (size_t start = 0;;) {
        const size_t end = path.find('/', start);
        const std::string problem
            = CheckComponent(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (!problem.empty())
            return problem;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if (SanitiseItemName(wide) != wide)
        return "would be renamed by the installer's extraction";
    const size_t full = std::char_traits<char16_t>::length(kInstallFolder) + wide.size();
    if (full > kMaxPathUnits)
        return "is " + std::to_string(full)
            + " characters long under C:\\" INSTALL_FOLDER_NAME "\\; the installer's limit is "
            + std::to_string(kMaxPathUnits);
    std::string ansi, back;
    if (!ToCodePage936(path, ansi) || !FromCodePage936(ansi, back) || back != path)
        return "cannot be written in code page 936, from which the installer reads item names";
    stored = ansi;
    return std::string();
}

std::string BackslashPath(const std::string& path)
{
    std::string out = path;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

std::map<std::u16string, InstalledFile> InstallOn(
    const std::vector<PackageContent>& packages, const Machine& machine, std::vector<Overlap>& overlaps)
{
    std::map<std::u16string, InstalledFile> files;
    for (size_t p = 0; p < packages.size(); ++p) {
        if (!InstalledOn(packages[p].kind, machine))
            continue;
        for (InstalledFile file : packages[p].files) {
            file.package = p;
            auto& slot = files[PathKey(file.path)];
            if (!slot.path.empty())
                overlaps.push_back({file.path, slot.package, p});
            slot = file;
        }
    }
    return files;
}

std::vector<InstalledFile> FilesOnEveryMachine(
    const std::vector<PackageContent>& packages, std::vector<InstalledFile>& differing)
{
    std::vector<std::map<std::u16string, InstalledFile>> machines;
    std::vector<Overlap> ignored;
    for (const Machine& machine : kMachines)
        machines.push_back(InstallOn(packages, machine, ignored));
    std::vector<InstalledFile> common;
    std::set<std::u16string> seen;
    for (const PackageContent& package : packages) {
        for (const InstalledFile& file : package.files) {
            const std::u16string key = PathKey(file.path);
            if (seen.count(key) || !IsKnownKind(package.kind))
                continue;
            seen.insert(key);
            bool everywhere = true;
            const InstalledFile* first = nullptr;
            for (const auto& machine : machines) {
                const auto found = machine.find(key);
                if (found == machine.end() || (first && found->second.crc != first->crc))
                    everywhere = false;
                else if (!first)
                    first = &found->second;
            }
            if (everywhere)
                common.push_back(*first);
            else
                differing.push_back(file);
        }
    }
    return common;
}

} // namespace publish
