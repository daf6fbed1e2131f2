#include "Check.h"

#include "Http.h"
#include "Platform.h"
#include "Rules.h"
#include "Signing.h"
#include "Zip.h"
#include "core/rules/ServedLists.h"
#include "core/rules/Text.h"
#include "core/rules/ZipItems.h"

#include <algorithm>
#include <climits>
#include <map>

namespace publish {

namespace {

// The installer downloads into a block whose length is an int: it takes no served file longer than this.
constexpr uint64_t kServedFileLimit = INT_MAX;

class FolderSource : public ReleaseSource {
public:
    explicit FolderSource(const std::string& folder)
        : m_folder(folder)
    {
    }
    FetchResult Fetch(const std::string& name, uint64_t, std::string& bytes, std::string& error) override
    {
        const std::string path = m_folder + "/" + name;
        if (!PathExists(path))
            return FetchResult::Missing;
        return ReadWholeFile(path, bytes, error) ? FetchResult::Fetched : FetchResult::Failed;
    }

private:
    std::string m_folder;
};

class HttpSource : public ReleaseSource {
public:
    explicit HttpSource(const std::string& base)
        : m_base(base)
    {
    }
    FetchResult Fetch(const std::string& name, uint64_t limit, std::string& bytes, std::string& error) override
    {
        long status = 0;
        const HttpResult result = m_client.Get(m_base + PercentEncodePath(name), limit, status, bytes, error);
        if (result == HttpResult::PastLimit)
            return FetchResult::PastLimit;
        if (result == HttpResult::Failed)
            return FetchResult::Failed;
        if (status == 200)
            return FetchResult::Fetched;
        if (status == 404)
            return FetchResult::Missing;
        error = m_base + name + " answered " + std::to_string(status);
        return FetchResult::Failed;
    }

private:
    std::string m_base;
    HttpClient m_client;
};

std::string Utf8(const std::u16string& text)
{
    return Utf16ToUtf8(text);
}

bool FetchServed(
    ReleaseSource& source, const std::string& name, uint64_t limit, std::string& bytes, Diagnostics& diagnostics)
{
    std::string error;
    switch (source.Fetch(name, limit, bytes, error)) {
    case FetchResult::Fetched:
        return true;
    case FetchResult::Missing:
        diagnostics.errors.push_back(name + " is missing");
        break;
    case FetchResult::PastLimit:
        diagnostics.errors.push_back(name + ": longer than " + std::to_string(limit) + " bytes");
        break;
    case FetchResult::Failed:
        diagnostics.errors.push_back(name + ": " + error);
        break;
    }
    return false;
}

// A served UTF-16 list: fetched, at least 3 bytes, a byte-order mark, some text.
bool FetchText(ReleaseSource& source, const std::string& name, std::u16string& text, Diagnostics& diagnostics)
{
    std::string bytes;
    if (!FetchServed(source, name, kServedFileLimit, bytes, diagnostics))
        return false;
    if (bytes.size() < 3) {
        diagnostics.errors.push_back(
            name + " has " + std::to_string(bytes.size()) + " bytes; the installer treats that as a failed download");
        return false;
    }
    if (bytes.compare(0, 2, "\xFF\xFE") != 0)
        diagnostics.warnings.push_back(name + " does not begin with the UTF-16LE byte-order mark");
    text = DecodeServedText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (text.empty()) {
        diagnostics.errors.push_back(name + " holds no text");
        return false;
    }
    return true;
}

void WarnIgnored(const std::string& name, const std::vector<std::u16string>& ignored, Diagnostics& diagnostics)
{
    for (const std::u16string& line : ignored)
        diagnostics.warnings.push_back(name + ": the installer ignores the line \"" + Utf8(line) + "\"");
}

// The files one package puts into the install folder, as the installer's extraction sees its items.
void ReadPackage(const std::string& name, const std::string& archive, PackageContent& content, Diagnostics& diagnostics)
{
    std::vector<ZipItem> items;
    std::string error;
    if (!ReadZip(archive, items, error)) {
        diagnostics.errors.push_back(name + ": " + error);
        return;
    }
    for (const ZipItem& item : items) {
        std::string utf8;
        std::u16string itemName;
        if (!FromCodePage936(item.storedName, utf8) || !Utf8ToUtf16(utf8, itemName)) {
            diagnostics.errors.push_back(name + ": an item's name is not code page 936 text");
            continue;
        }
        const std::string where = name + ": " + utf8 + " ";
        if (item.compressedSize == 0) {
            if (item.uncompressedSize != 0)
                diagnostics.warnings.push_back(where + "has no stored data; the installer skips it");
            continue;
        }
        const std::u16string installed = SanitiseItemName(itemName);
        if (installed != itemName) {
            diagnostics.errors.push_back(where + "would be extracted as \"" + Utf8(installed) + "\"");
            continue;
        }
        if (std::char_traits<char16_t>::length(kInstallFolder) + installed.size() > kMaxPathUnits) {
            diagnostics.errors.push_back(where + "is too long for the installer's 259-character paths");
            continue;
        }
        if (!item.dataError.empty()) {
            diagnostics.errors.push_back(where + "cannot be extracted: " + item.dataError);
            continue;
        }
        if (!IsWindowsAttributeHost(item.versionMadeBy))
            diagnostics.warnings.push_back(where + "comes from host system " + std::to_string(item.versionMadeBy >> 8)
                + "; the installer reads its attributes as a Unix mode");
        const uint32_t attributes = ZipItemAttributes(item.versionMadeBy, item.externalAttributes);
        if (attributes & ZIP_ATTRIBUTE_DIRECTORY)
            continue;
        if (attributes & ZIP_ATTRIBUTE_READONLY)
            diagnostics.warnings.push_back(where + "is read-only; the next installation cannot replace it");
        content.files.push_back({installed, item.dataCrc, 0});
    }
}

} // namespace

std::unique_ptr<ReleaseSource> OpenReleaseSource(const std::string& location, std::string& error)
{
    if (location.find("://") == std::string::npos)
        return std::unique_ptr<ReleaseSource>(new FolderSource(location));
    if (!IsHttpUrl(location, error))
        return nullptr;
    return std::unique_ptr<ReleaseSource>(new HttpSource(location.back() == '/' ? location : location + "/"));
}

SignedSource::SignedSource(ReleaseSource& source, ReleaseList list)
    : m_source(source)
    , m_list(std::move(list))
{
}

FetchResult SignedSource::Fetch(const std::string& name, uint64_t limit, std::string& bytes, std::string& error)
{
    m_fetched.insert(name);
    const ReleaseLine* line = FindReleaseLine(m_list, name);
    const uint64_t listed = line != nullptr ? static_cast<uint64_t>(line->nSize) : 0;
    const bool listedBound = line != nullptr && listed <= limit;
    const FetchResult result = m_source.Fetch(name, listedBound ? listed : limit, bytes, error);
    if (result == FetchResult::PastLimit && listedBound) {
        error = std::string("longer than listed in ") + RELEASE_LIST_NAME + " (" + std::to_string(listed) + " bytes)";
        return FetchResult::Failed;
    }
    if (result != FetchResult::Fetched)
        return result;
    std::string digest;
    if (line == nullptr)
        error = std::string("not listed in ") + RELEASE_LIST_NAME;
    else if (listed != bytes.size())
        error = std::to_string(bytes.size()) + " bytes, " + RELEASE_LIST_NAME + " lists " + std::to_string(listed);
    else if (Sha256(bytes, digest, error) && digest != std::string(std::begin(line->digest), std::end(line->digest)))
        error = std::string("hash mismatch with ") + RELEASE_LIST_NAME;
    return error.empty() ? FetchResult::Fetched : FetchResult::Failed;
}

void SignedSource::CheckUnfetched(Diagnostics& diagnostics)
{
    for (const ReleaseLine& file : m_list.vecFiles) {
        std::string bytes;
        if (m_fetched.count(file.strName) == 0)
            FetchServed(*this, file.strName, kServedFileLimit, bytes, diagnostics);
    }
}

std::unique_ptr<SignedSource> OpenSignedSource(
    ReleaseSource& source, const std::string& point, int64_t now, Diagnostics& diagnostics)
{
    std::string text, signature, error;
    ReleaseList list;
    if (!FetchServed(source, RELEASE_LIST_NAME, RELEASE_LIST_LIMIT, text, diagnostics)
        || !FetchServed(source, RELEASE_SIGNATURE_NAME, P256_SIGNATURE_BYTES, signature, diagnostics))
        return nullptr;
    if (signature.size() != P256_SIGNATURE_BYTES)
        error
            = std::string(RELEASE_SIGNATURE_NAME) + ": " + std::to_string(signature.size()) + " bytes, not 64 (r || s)";
    else if (!VerifySignature(point, text, signature, error))
        error = std::string(RELEASE_SIGNATURE_NAME) + ": " + error + " for the key " + LowerHex(point);
    else
        ReadReleaseList(text, list, error);
    if (!error.empty()) {
        diagnostics.errors.push_back(error);
        return nullptr;
    }
    diagnostics.notes.push_back(std::string(RELEASE_SIGNATURE_NAME) + ": signature valid (key " + LowerHex(point)
        + "), " + std::to_string(list.vecFiles.size()) + " files listed");
    diagnostics.notes.push_back(std::string(RELEASE_LIST_NAME) + ": " + DescribeTerms(list.terms));
    // No installed release is known here: only the expiry can refuse the list.
    if (JudgeRelease(list.terms, 0, now) == ReleaseVerdict::EXPIRED) {
        diagnostics.errors.push_back(std::string(RELEASE_LIST_NAME) + " expired at " + UtcTimeText(list.terms.llExpires)
            + " (this machine's clock says " + UtcTimeText(now) + "); the installer refuses it");
        return nullptr;
    }
    return std::unique_ptr<SignedSource>(new SignedSource(source, std::move(list)));
}

bool CheckRelease(ReleaseSource& source, Diagnostics& diagnostics)
{
    const size_t errorsBefore = diagnostics.errors.size();
    std::u16string manifestText;
    if (!FetchText(source, "orbsetup.txt", manifestText, diagnostics))
        return false;
    std::vector<std::u16string> ignored;
    const std::vector<ManifestEntry> entries = ParseManifest(manifestText, ignored);
    WarnIgnored("orbsetup.txt", ignored, diagnostics);
    if (entries.empty()) {
        diagnostics.errors.push_back("orbsetup.txt has no entry the installer can read");
        return false;
    }

    std::vector<PackageContent> contents;
    std::map<std::u16string, size_t> fetched;
    for (const ManifestEntry& entry : entries) {
        const std::string name = Utf8(entry.name);
        if (!IsKnownKind(entry.kind)) {
            diagnostics.warnings.push_back("orbsetup.txt: " + name + " has kind " + std::to_string(entry.kind)
                + " and is installed on no machine");
            continue;
        }
        if (entry.name.size() > MAX_PACKAGE_NAME_UNITS || entry.name.find_first_of(u"/\\") != std::u16string::npos) {
            diagnostics.errors.push_back("orbsetup.txt: the installer cannot download the package \"" + name + "\"");
            continue;
        }
        PackageContent content {name, entry.kind, {}};
        const auto known = fetched.find(entry.name);
        std::string archive;
        if (known != fetched.end())
            content.files = contents[known->second].files;
        else if (FetchServed(source, name, kServedFileLimit, archive, diagnostics))
            ReadPackage(name, archive, content, diagnostics);
        fetched.emplace(entry.name, contents.size());
        contents.push_back(content);
    }

    std::string uninstaller;
    const bool haveUninstaller = FetchServed(source, "UnInstall.exe", kServedFileLimit, uninstaller, diagnostics);
    if (haveUninstaller && uninstaller.empty())
        diagnostics.warnings.push_back("UnInstall.exe is empty");

    std::u16string crcText;
    if (!FetchText(source, "filecrc.txt", crcText, diagnostics))
        return false;
    ignored.clear();
    const std::vector<CrcListLine> listed = ParseCrcList(crcText, &ignored);
    WarnIgnored("filecrc.txt", ignored, diagnostics);

    for (const Machine& machine : kMachines) {
        std::vector<Overlap> overlaps;
        std::map<std::u16string, InstalledFile> files = InstallOn(contents, machine, overlaps);
        for (const Overlap& overlap : overlaps)
            diagnostics.warnings.push_back(std::string("on a machine with ") + machine.label + ", "
                + contents[overlap.later].name + " replaces " + Utf8(overlap.path) + " from "
                + contents[overlap.earlier].name);
        // The installer downloads the uninstaller into the install folder before it checks.
        if (haveUninstaller)
            files[PathKey(u"UnInstall.exe")] = {u"UnInstall.exe", Crc32(uninstaller), 0};
        size_t compared = 0;
        for (const CrcListLine& line : listed) {
            if (line.nCrc == 0)
                continue;
            const std::string name = Utf8(line.strName);
            const auto found = files.find(PathKey(line.strName));
            if (found == files.end())
                diagnostics.errors.push_back(
                    std::string("filecrc.txt: ") + name + " is not installed on a machine with " + machine.label);
            else if (found->second.crc != line.nCrc)
                diagnostics.errors.push_back(std::string("filecrc.txt: ") + name + " has the CRC "
                    + std::to_string(found->second.crc) + " on a machine with " + machine.label + ", not "
                    + std::to_string(line.nCrc));
            else
                ++compared;
        }
        diagnostics.notes.push_back(std::string("a machine with ") + machine.label + " gets "
            + std::to_string(files.size()) + " files; " + std::to_string(compared) + " of them match filecrc.txt");
    }
    return diagnostics.errors.size() == errorsBefore;
}

} // namespace publish
