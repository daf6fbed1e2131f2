#include "Publish.h"

#include "Platform.h"
#include "Zip.h"
#include "core/rules/Text.h"

#include <set>

namespace publish {

namespace {

const char* const kReservedNames[]
    = {"orbsetup.txt", "filecrc.txt", "UnInstall.exe", RELEASE_LIST_NAME, RELEASE_SIGNATURE_NAME};

std::string Lower(std::string text)
{
    for (char& c : text)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

std::string KindText(int32_t kind)
{
    return "kind " + std::to_string(kind);
}

// Adds one source file to the package, or says why it cannot go in.
void PlanFile(const std::string& source, const std::string& installedPath, const std::string& package,
    bool keepReadOnly, std::vector<PlannedFile>& files, Diagnostics& diagnostics)
{
    const std::string where = package + ": " + installedPath + " (from " + source + ") ";
    PlannedFile file;
    file.source = source;
    file.installedPath = installedPath;
    const std::string problem = CheckInstalledPath(installedPath, file.storedName);
    if (!problem.empty()) {
        diagnostics.errors.push_back(where + problem);
        return;
    }
    if (Lower(installedPath) == "uninstall.exe") {
        diagnostics.errors.push_back(where + "would be replaced by the UnInstall.exe the installer downloads");
        return;
    }
    FileInfo info;
    std::string data, error;
    if (!GetFileInfo(source, info, error) || !ReadWholeFile(source, data, error)) {
        diagnostics.errors.push_back(package + ": " + error);
        return;
    }
    if (data.empty()) {
        diagnostics.errors.push_back(where + "is empty; the installer cannot verify an empty file");
        return;
    }
    if (data.size() > 0x7FFFFFFFULL) {
        diagnostics.errors.push_back(where + "is 2 GiB or larger; the installer's sizes are 32-bit signed");
        return;
    }
    file.crc = Crc32(data);
    if (file.crc == 0) {
        diagnostics.errors.push_back(where + "has the CRC-32 0, which the installer takes for a read failure");
        return;
    }
    file.modified = info.modified;
    file.attributes = ZIP_ATTRIBUTE_ARCHIVE | (info.attributes & (ZIP_ATTRIBUTE_HIDDEN | ZIP_ATTRIBUTE_SYSTEM));
    if ((info.attributes & ZIP_ATTRIBUTE_READONLY) && keepReadOnly)
        file.attributes |= ZIP_ATTRIBUTE_READONLY;
    else if (info.attributes & ZIP_ATTRIBUTE_READONLY)
        diagnostics.warnings.push_back(where
            + "is read-only; published writable, since older installers cannot install over a read-only "
              "file (--keep-read-only publishes it read-only)");
    files.push_back(file);
}

void PlanPackage(
    const PackageDescription& description, bool keepReadOnly, PlannedPackage& package, Diagnostics& diagnostics)
{
    package.name = description.name;
    package.kind = description.kind;
    package.value = description.value;
    for (const SourceEntry& entry : description.sources) {
        if (!entry.isFolder) {
            PlanFile(entry.source, entry.destination, description.name, keepReadOnly, package.files, diagnostics);
            continue;
        }
        std::vector<std::string> relative;
        std::string error;
        if (!ListFiles(entry.source, relative, error)) {
            diagnostics.errors.push_back(description.name + ": " + error);
            continue;
        }
        for (const std::string& path : relative) {
            const std::string installed = entry.destination.empty() ? path : entry.destination + "/" + path;
            PlanFile(entry.source + "/" + path, installed, description.name, keepReadOnly, package.files, diagnostics);
        }
    }
    if (package.files.empty())
        diagnostics.warnings.push_back(description.name + ": the package holds no file");
}

std::string Utf8(const std::u16string& text)
{
    return Utf16ToUtf8(text);
}

void CheckOverlaps(const std::vector<PackageContent>& contents, Diagnostics& diagnostics)
{
    std::set<std::string> reported;
    for (const Machine& machine : kMachines) {
        std::vector<Overlap> overlaps;
        InstallOn(contents, machine, overlaps);
        for (const Overlap& overlap : overlaps) {
            const PackageContent& earlier = contents[overlap.earlier];
            const PackageContent& later = contents[overlap.later];
            std::string message;
            if (overlap.earlier == overlap.later)
                message = later.name + ": " + Utf8(overlap.path)
                    + " is there twice (names differing only in case are one file on Windows)";
            else
                message = Utf8(overlap.path) + " is installed by both " + earlier.name + " (" + KindText(earlier.kind)
                    + ") and " + later.name + " (" + KindText(later.kind) + "), which one machine installs together";
            if (reported.insert(message).second)
                diagnostics.errors.push_back(message);
        }
    }
}

} // namespace

bool PlanRelease(const ReleaseDescription& description, ReleasePlan& plan, Diagnostics& diagnostics)
{
    const size_t errorsBefore = diagnostics.errors.size();
    plan = ReleasePlan();
    plan.uninstaller = description.uninstaller;
    FileInfo uninstaller;
    std::string error;
    if (!GetFileInfo(description.uninstaller, uninstaller, error))
        diagnostics.errors.push_back("uninstaller: " + error);
    else if (uninstaller.isFolder || uninstaller.size == 0)
        diagnostics.errors.push_back("uninstaller: " + description.uninstaller + " is not a program");

    std::set<std::string> names;
    for (const char* reserved : kReservedNames)
        names.insert(Lower(reserved));
    std::vector<PackageContent> contents;
    for (const PackageDescription& packageDescription : description.packages) {
        const std::string where
            = "package \"" + packageDescription.name + "\" (line " + std::to_string(packageDescription.line) + ") ";
        const std::string problem = CheckPackageName(packageDescription.name);
        if (!problem.empty())
            diagnostics.errors.push_back(where + problem);
        else if (!names.insert(Lower(packageDescription.name)).second)
            diagnostics.errors.push_back(where + "has the name of another file of the release");
        if (!IsKnownKind(packageDescription.kind))
            diagnostics.warnings.push_back(where + "has kind " + std::to_string(packageDescription.kind)
                + ": the installer lists it but installs it on no machine");
        PlannedPackage package;
        PlanPackage(packageDescription, description.keepReadOnly, package, diagnostics);
        PackageContent content {package.name, package.kind, {}};
        for (const PlannedFile& file : package.files) {
            std::u16string path;
            Utf8ToUtf16(file.installedPath, path);
            content.files.push_back({path, file.crc, 0});
        }
        contents.push_back(content);
        plan.packages.push_back(package);
    }
    CheckOverlaps(contents, diagnostics);

    std::vector<InstalledFile> differing;
    plan.verified = FilesOnEveryMachine(contents, differing);
    for (const InstalledFile& file : differing)
        diagnostics.notes.push_back(
            "not in filecrc.txt, as the two kinds of machine get different files there: " + Utf8(file.path));
    return diagnostics.errors.size() == errorsBefore;
}

std::string ManifestFile(const ReleasePlan& plan)
{
    std::vector<std::u16string> lines;
    for (const PlannedPackage& package : plan.packages) {
        std::u16string line;
        Utf8ToUtf16(package.name + ";" + std::to_string(package.value) + ";" + std::to_string(package.kind), line);
        lines.push_back(line);
    }
    return EncodeServedText(lines);
}

std::string CrcListFile(const ReleasePlan& plan)
{
    std::vector<std::u16string> lines;
    for (const InstalledFile& file : plan.verified) {
        std::u16string line;
        Utf8ToUtf16(BackslashPath(Utf8(file.path)) + ";" + std::to_string(file.crc), line);
        lines.push_back(line);
    }
    return EncodeServedText(lines);
}

namespace {

// Writes one served file and notes its line for release.sha256.
bool WriteServed(const std::string& folder, const std::string& name, const std::string& data,
    std::vector<ReleaseLine>& listed, std::string& error)
{
    std::string digest;
    if (!Sha256(data, digest, error) || !WriteWholeFile(folder + "/" + name, data, error))
        return false;
    ReleaseLine line = {{}, static_cast<int64_t>(data.size()), name};
    std::copy(digest.begin(), digest.end(), line.digest);
    listed.push_back(line);
    return true;
}

bool WritePackage(
    const PlannedPackage& package, const std::string& folder, std::vector<ReleaseLine>& listed, std::string& error)
{
    ZipWriter zip;
    for (const PlannedFile& file : package.files) {
        std::string data;
        if (!ReadWholeFile(file.source, data, error))
            return false;
        if (Crc32(data) != file.crc) {
            error = file.source + " changed while the release was being built";
            return false;
        }
        if (!zip.Add(file.storedName, data, file.modified, file.attributes, error)) {
            error = package.name + ": " + file.installedPath + ": " + error;
            return false;
        }
    }
    std::string archive;
    return zip.Finish(archive, error) && WriteServed(folder, package.name, archive, listed, error);
}

bool WriteAll(const ReleasePlan& plan, const std::string& folder, const SigningKey* key, const ReleaseTerms& terms,
    std::string& error)
{
    std::vector<ReleaseLine> listed;
    for (const PlannedPackage& package : plan.packages) {
        if (!WritePackage(package, folder, listed, error))
            return false;
    }
    std::string uninstaller;
    if (!WriteServed(folder, "orbsetup.txt", ManifestFile(plan), listed, error)
        || !WriteServed(folder, "filecrc.txt", CrcListFile(plan), listed, error)
        || !ReadWholeFile(plan.uninstaller, uninstaller, error)
        || !WriteServed(folder, "UnInstall.exe", uninstaller, listed, error))
        return false;
    if (key == nullptr)
        return true;
    const std::string list = FormatReleaseList({listed, terms});
    std::string signature;
    return Sign(*key, list, signature, error) && WriteWholeFile(folder + "/" + RELEASE_LIST_NAME, list, error)
        && WriteWholeFile(folder + "/" + RELEASE_SIGNATURE_NAME, signature, error);
}

} // namespace

bool WriteRelease(const ReleasePlan& plan, const std::string& output, Diagnostics& diagnostics, const SigningKey* key,
    const ReleaseTerms& terms)
{
    std::string target = output;
    while (target.size() > 1 && (target.back() == '/' || target.back() == '\\'))
        target.pop_back();
    FileInfo existing;
    std::string error;
    if (PathExists(target) && GetFileInfo(target, existing, error) && !existing.isFolder) {
        diagnostics.errors.push_back(target + " is a file, not a release folder");
        return false;
    }
    std::string temp;
    if (!MakeSiblingTempFolder(target, temp, error)) {
        diagnostics.errors.push_back(error);
        return false;
    }
    if (!WriteAll(plan, temp, key, terms, error) || !ReplaceFolder(temp, target, error)) {
        RemoveTree(temp);
        diagnostics.errors.push_back(error + "; " + target + " is unchanged");
        return false;
    }
    return true;
}

bool NextSerial(const std::string& output, uint64_t requested, uint64_t& serial, std::string& error)
{
    const std::string path = output + "/" + RELEASE_LIST_NAME;
    std::string text;
    ReleaseList previous;
    if (PathExists(path) && (!ReadWholeFile(path, text, error) || !ReadReleaseList(text, previous, error))) {
        error = "the serial of the release in " + output + " cannot be read: " + error;
        return false;
    }
    const uint64_t last = static_cast<uint64_t>(previous.terms.nSerial);
    if (requested == 0 && last == static_cast<uint64_t>(MAX_LISTED_NUMBER)) {
        error
            = "the release in " + output + " has the serial " + std::to_string(last) + ", the highest a list can carry";
        return false;
    }
    if (requested != 0 && requested <= last) {
        error = "serial " + std::to_string(requested) + " is not above " + std::to_string(last)
            + ", the serial of the release in " + output;
        return false;
    }
    serial = requested != 0 ? requested : last + 1;
    return true;
}

} // namespace publish
