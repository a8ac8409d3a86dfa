// Conversion between the internal UTF-8 texts and the scale's code page 866.
#pragma once
#include <string>

namespace qd::platform {

// One byte per character; a character that code page 866 cannot represent (and every byte
// of malformed UTF-8) becomes "?".
std::string Utf8ToCp866(const std::string& AText);

// Every code page 866 byte has a character, so this never loses anything.
std::string Cp866ToUtf8(const std::string& ABytes);

}  // namespace qd::platform
