#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Text as the installer reads it and the publisher writes it, for every program that needs the rule:
// the installer, the uninstaller and the publisher, natively and for Windows. UTF-16 is char16_t here;
// the Windows programs pass their WCHAR text through support/WideText.h.

// Strict UTF-8 to UTF-16: false for a malformed sequence, an overlong form or a surrogate.
bool Utf8ToUtf16(const std::string& strUtf8, std::u16string& strUtf16);
// A lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& strUtf16);

// Text files on the download server are UTF-16LE behind a two-byte byte-order mark. The text runs from
// the third byte to the first zero unit or the end of the bytes; an odd last byte forms a unit whose high
// byte is zero. The mark itself is not examined.
std::u16string DecodeServedText(const uint8_t* pBytes, size_t cb);
// The mark, then each line followed by CR LF, all UTF-16LE.
std::string EncodeServedText(const std::vector<std::u16string>& vecLines);

// The pieces between separators, in text order, empty pieces dropped.
std::vector<std::u16string> SplitString(const std::u16string& strText, char16_t chSeparator);
// CR and LF taken off both ends.
std::u16string TrimLineEnds(const std::u16string& strLine);
// The lines of a served text: split at CR, trimmed, empty ones dropped.
std::vector<std::u16string> SplitLines(const std::u16string& strText);

// A decimal field read like the C runtime's atoi: leading white space, an optional sign, digits up to
// the first other character (0 without digits). Values beyond the int32_t range saturate.
template <typename CHAR> int32_t ReadSignedDecimal(const std::basic_string<CHAR>& strField);
// As an unsigned 32-bit number: "-" negates modulo 2^32; a magnitude beyond 4294967295 gives 4294967295.
uint32_t ReadUnsignedDecimal(const std::u16string& strField);

extern template int32_t ReadSignedDecimal<char>(const std::string&);
extern template int32_t ReadSignedDecimal<char16_t>(const std::u16string&);
