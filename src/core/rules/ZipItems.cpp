#include "core/rules/ZipItems.h"

#include <string_view>

namespace {

bool IsSeparator(char16_t ch)
{
    return ch == u'\\' || ch == u'/';
}

uint32_t ReadLe16(const uint8_t* p)
{
    return p[0] | (p[1] << 8);
}

uint32_t ReadLe32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

bool IsWindowsAttributeHost(uint32_t nVersionMadeBy)
{
    switch ((nVersionMadeBy >> 8) & 0xFF) {
    case 0: // MS-DOS and OS/2 FAT
    case 7: // Macintosh
    case 11: // NTFS
    case 14: // VFAT
        return true;
    default:
        return false;
    }
}

uint32_t ZipItemAttributes(uint32_t nVersionMadeBy, uint32_t nExternalAttributes)
{
    if (IsWindowsAttributeHost(nVersionMadeBy))
        return nExternalAttributes
            & (ZIP_ATTRIBUTE_READONLY | ZIP_ATTRIBUTE_HIDDEN | ZIP_ATTRIBUTE_SYSTEM | ZIP_ATTRIBUTE_DIRECTORY
                | ZIP_ATTRIBUTE_ARCHIVE);

    uint32_t nAttributes = ZIP_ATTRIBUTE_ARCHIVE;
    if ((nExternalAttributes & 0x40000000) != 0) // S_IFDIR
        nAttributes |= ZIP_ATTRIBUTE_DIRECTORY;
    if ((nExternalAttributes & 0x00800000) == 0) // S_IWUSR
        nAttributes |= ZIP_ATTRIBUTE_READONLY;
    return nAttributes;
}

const char16_t* SanitizeZipItemName(const char16_t* pszName)
{
    static const char16_t* const s_rgDotDot[] = {u"\\..\\", u"\\../", u"/../", u"/..\\"};
    const char16_t* psz = pszName;
    for (;;) {
        if (psz[0] != u'\0' && psz[1] == u':') {
            psz += 2;
            continue;
        }
        if (IsSeparator(psz[0])) {
            psz += 1;
            continue;
        }
        if (psz[0] == u'.' && psz[1] == u'.' && IsSeparator(psz[2])) {
            psz += 3;
            continue;
        }
        bool bCut = false;
        for (const char16_t* pszDotDot : s_rgDotDot) {
            const size_t nFound = std::u16string_view(psz).find(pszDotDot);
            if (nFound != std::u16string_view::npos) {
                psz += nFound + 4;
                bCut = true;
                break;
            }
        }
        if (!bCut)
            return psz;
    }
}

size_t ZipItemFolderLength(const char16_t* pszName)
{
    size_t cch = 0;
    for (size_t i = 0; pszName[i] != u'\0'; ++i) {
        if (IsSeparator(pszName[i]))
            cch = i + 1;
    }
    return cch;
}

bool FindExtendedTimes(const uint8_t* pExtra, size_t cbExtra, ZipExtendedTimes& times)
{
    times = ZipExtendedTimes {};
    size_t nPos = 0;
    while (cbExtra - nPos >= 4) {
        const uint32_t nTag = ReadLe16(pExtra + nPos);
        const size_t cbBlock = ReadLe16(pExtra + nPos + 2);
        const uint8_t* pBlock = pExtra + nPos + 4;
        if (cbBlock > cbExtra - nPos - 4)
            return false; // a block that runs past the field: nothing after it can be trusted
        if (nTag == 0x5455) { // "UT"
            if (cbBlock < 1)
                return true;
            const uint8_t nFlags = pBlock[0];
            size_t nAt = 1;
            bool* rgbHas[] = {&times.bModified, &times.bAccessed, &times.bCreated};
            uint32_t* rgnTime[] = {&times.nModified, &times.nAccessed, &times.nCreated};
            for (int i = 0; i < 3; ++i) {
                if ((nFlags & (1 << i)) == 0)
                    continue;
                if (cbBlock - nAt < 4)
                    break;
                *rgbHas[i] = true;
                *rgnTime[i] = ReadLe32(pBlock + nAt);
                nAt += 4;
            }
            return true;
        }
        nPos += 4 + cbBlock;
    }
    return false;
}
