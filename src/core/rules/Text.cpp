#include "core/rules/Text.h"

#include <algorithm>
#include <limits>

bool Utf8ToUtf16(const std::string& strUtf8, std::u16string& strUtf16)
{
    strUtf16.clear();
    for (size_t i = 0; i < strUtf8.size();) {
        const auto lead = static_cast<unsigned char>(strUtf8[i]);
        const int nExtra = lead < 0x80 ? 0
            : (lead >> 5) == 0x6       ? 1
            : (lead >> 4) == 0xE       ? 2
            : (lead >> 3) == 0x1E      ? 3
                                       : -1;
        if (nExtra < 0 || i + nExtra >= strUtf8.size())
            return false;
        uint32_t nCode = nExtra == 0 ? lead : lead & (0x3F >> nExtra);
        for (int k = 1; k <= nExtra; ++k) {
            const auto next = static_cast<unsigned char>(strUtf8[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            nCode = (nCode << 6) | (next & 0x3F);
        }
        static const uint32_t s_rgSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (nCode < s_rgSmallest[nExtra] || nCode > 0x10FFFF || (nCode >= 0xD800 && nCode <= 0xDFFF))
            return false;
        if (nCode >= 0x10000) {
            nCode -= 0x10000;
            strUtf16.push_back(static_cast<char16_t>(0xD800 + (nCode >> 10)));
            strUtf16.push_back(static_cast<char16_t>(0xDC00 + (nCode & 0x3FF)));
        } else {
            strUtf16.push_back(static_cast<char16_t>(nCode));
        }
        i += nExtra + 1;
    }
    return true;
}

std::string Utf16ToUtf8(const std::u16string& strUtf16)
{
    std::string strOut;
    for (size_t i = 0; i < strUtf16.size(); ++i) {
        uint32_t nCode = strUtf16[i];
        if (nCode >= 0xD800 && nCode < 0xDC00 && i + 1 < strUtf16.size() && strUtf16[i + 1] >= 0xDC00
            && strUtf16[i + 1] < 0xE000)
            nCode = 0x10000 + ((nCode - 0xD800) << 10) + (strUtf16[++i] - 0xDC00);
        else if (nCode >= 0xD800 && nCode < 0xE000)
            nCode = 0xFFFD;
        if (nCode < 0x80) {
            strOut += static_cast<char>(nCode);
        } else if (nCode < 0x800) {
            strOut += static_cast<char>(0xC0 | (nCode >> 6));
            strOut += static_cast<char>(0x80 | (nCode & 0x3F));
        } else if (nCode < 0x10000) {
            strOut += static_cast<char>(0xE0 | (nCode >> 12));
            strOut += static_cast<char>(0x80 | ((nCode >> 6) & 0x3F));
            strOut += static_cast<char>(0x80 | (nCode & 0x3F));
        } else {
            strOut += static_cast<char>(0xF0 | (nCode >> 18));
            strOut += static_cast<char>(0x80 | ((nCode >> 12) & 0x3F));
            strOut += static_cast<char>(0x80 | ((nCode >> 6) & 0x3F));
            strOut += static_cast<char>(0x80 | (nCode & 0x3F));
        }
    }
    return strOut;
}

std::u16string DecodeServedText(const uint8_t* pBytes, size_t cb)
{
    std::u16string strText;
    if (pBytes == nullptr)
        return strText;
    for (size_t i = 2; i < cb; i += 2) {
        const auto ch = static_cast<char16_t>(pBytes[i] | (i + 1 < cb ? pBytes[i + 1] << 8 : 0));
        if (ch == u'\0')
            break;
        strText.push_back(ch);
    }
    return strText;
}

std::string EncodeServedText(const std::vector<std::u16string>& vecLines)
{
    std::string strOut = "\xFF\xFE";
    for (const std::u16string& strLine : vecLines) {
        for (char16_t ch : strLine + u"\r\n") {
            strOut += static_cast<char>(ch & 0xFF);
            strOut += static_cast<char>(ch >> 8);
        }
    }
    return strOut;
}

std::vector<std::u16string> SplitString(const std::u16string& strText, char16_t chSeparator)
{
    std::vector<std::u16string> vecPieces;
    for (size_t nStart = 0; nStart <= strText.size();) {
        size_t nEnd = strText.find(chSeparator, nStart);
        if (nEnd == std::u16string::npos)
            nEnd = strText.size();
        if (nEnd > nStart)
            vecPieces.push_back(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    return vecPieces;
}

std::u16string TrimLineEnds(const std::u16string& strLine)
{
    const size_t nFirst = strLine.find_first_not_of(u"\r\n");
    if (nFirst == std::u16string::npos)
        return std::u16string();
    return strLine.substr(nFirst, strLine.find_last_not_of(u"\r\n") - nFirst + 1);
}

std::vector<std::u16string> SplitLines(const std::u16string& strText)
{
    std::vector<std::u16string> vecLines;
    for (const std::u16string& strRaw : SplitString(strText, u'\r')) {
        std::u16string strLine = TrimLineEnds(strRaw);
        if (!strLine.empty())
            vecLines.push_back(strLine);
    }
    return vecLines;
}

namespace {

// Sign and magnitude of the leading decimal number, the magnitude saturated above 2^32; false without
// digits.
template <typename CHAR>
bool ReadDecimal(const std::basic_string<CHAR>& strField, bool& bNegative, uint64_t& nMagnitude)
{
    size_t i = 0;
    while (i < strField.size() && (strField[i] == ' ' || (strField[i] >= '\t' && strField[i] <= '\r')))
        ++i;
    bNegative = false;
    if (i < strField.size() && (strField[i] == '+' || strField[i] == '-'))
        bNegative = strField[i++] == '-';
    nMagnitude = 0;
    bool bDigits = false;
    for (; i < strField.size() && strField[i] >= '0' && strField[i] <= '9'; ++i) {
        bDigits = true;
        nMagnitude = std::min<uint64_t>(nMagnitude * 10 + static_cast<uint64_t>(strField[i] - '0'), uint64_t(1) << 33);
    }
    return bDigits;
}

} // namespace

template <typename CHAR> int32_t ReadSignedDecimal(const std::basic_string<CHAR>& strField)
{
    bool bNegative = false;
    uint64_t nMagnitude = 0;
    if (!ReadDecimal(strField, bNegative, nMagnitude))
        return 0;
    if (bNegative)
        return nMagnitude > 0x80000000ULL ? std::numeric_limits<int32_t>::min()
                                          : static_cast<int32_t>(-static_cast<int64_t>(nMagnitude));
    return nMagnitude > 0x7FFFFFFFULL ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(nMagnitude);
}

template int32_t ReadSignedDecimal<char>(const std::string&);
template int32_t ReadSignedDecimal<char16_t>(const std::u16string&);

uint32_t ReadUnsignedDecimal(const std::u16string& strField)
{
    bool bNegative = false;
    uint64_t nMagnitude = 0;
    if (!ReadDecimal(strField, bNegative, nMagnitude))
        return 0;
    if (nMagnitude > 0xFFFFFFFFULL)
        return 0xFFFFFFFFU;
    const auto nValue = static_cast<uint32_t>(nMagnitude);
    return bNegative ? 0U - nValue : nValue;
}
