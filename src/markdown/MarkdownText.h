// Character helpers shared by the block and inline phases of the CommonMark engine.
#pragma once
#include <string>
#include <string_view>

namespace qd::md::text {

inline bool IsAsciiPunct(unsigned char c) {
  return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
         (c >= 0x7B && c <= 0x7E);
}
inline bool IsAsciiAlpha(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
inline bool IsAsciiDigit(unsigned char c) { return c >= '0' && c <= '9'; }
inline bool IsAsciiAlnum(unsigned char c) { return IsAsciiAlpha(c) || IsAsciiDigit(c); }
inline bool IsHexDigit(unsigned char c) { return IsAsciiDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }

// Appends the text with the double quote, "&", "<" and ">" written as references.
void AppendEscaped(std::string& AOut, std::string_view AText);
void AppendEscaped(std::string& AOut, char c);

// Appends the code point as UTF-8.
void AppendUtf8(std::string& AOut, char32_t ACode);

// Decodes the code point that starts at APos (AEnd receives the position after it); malformed
// bytes decode as themselves, one at a time.
char32_t DecodeAt(std::string_view AText, std::size_t APos, std::size_t* AEnd = nullptr);
// The code point that ends just before APos; 0 at the start of the text.
char32_t DecodeBefore(std::string_view AText, std::size_t APos);

// Punctuation for the flanking rules of emphasis (CommonMark 6.2):
// Unicode general categories Pc, Pd, Pe, Pf, Pi, Po, Ps and Sm (ASCII punctuation included).
bool IsPunctuation(char32_t ACode);
// Unicode general category Cn (unassigned code point).
bool IsUnassigned(char32_t ACode);
// The e-mail address pattern of e-mail autolinks, anchored at both ends.
bool IsEmailAddress(std::string_view AText);

// Removes every character up to U+0020 from both ends.
std::string_view Trim(std::string_view AText);

}  // namespace qd::md::text
