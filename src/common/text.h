// Text helpers shared by every layer. Internal texts are UTF-8; the host speaks UTF-16.
#pragma once
#include <string>
#include <string_view>

namespace qd {

// UTF-16 -> UTF-8. A lone surrogate is kept as its own three-byte sequence, so that any
// host text survives the round trip unchanged.
std::string Utf16ToUtf8(std::u16string_view AText);
// UTF-8 -> UTF-16; the inverse of Utf16ToUtf8. Bytes that do not form a sequence become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view AText);
// The UTF-16 units of AText written to AOut (when not null); returns their number, so that a
// first call with null sizes the buffer.
size_t Utf8ToUtf16(std::string_view AText, char16_t* AOut);

// Decodes the UTF-8 sequence at APos into ACode and moves APos past it. False for a malformed
// sequence (overlong, cut short, past U+10FFFF); APos then moves on by one byte. An encoded
// surrogate is decoded as it stands, since host texts carry lone surrogates that way.
bool NextUtf8CodePoint(std::string_view AText, size_t& APos, char32_t& ACode);

// The value of a hexadecimal digit in either letter case; -1 for any other character.
int HexDigitValue(char AChar);

// Simple case folding (Latin, Latin-1, Latin Extended-A, Greek, Cyrillic and Armenian);
// independent of the process locale.
char32_t FoldCase(char32_t ACode);
// Case-insensitive equality of two UTF-8 texts.
bool SameText(std::string_view A, std::string_view B);

// Removes leading and trailing characters with codes up to 32.
std::string Trim(std::string_view AText);

// The process-wide decimal separator of number <-> text conversions ("." by default).
char DecimalSeparator();
void SetDecimalSeparator(char ASeparator);

// Shortest text that reads back as the same double, with the decimal separator above.
std::string FloatToStr(double AValue);

}  // namespace qd
