// Readers of an input-table attribute value (absent = nullopt), beside the table reader.
// They never fail: unusable input gives the default.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "device/Common.h"

namespace qd {

// Decimal, or hexadecimal after "$", "x" or "0x"; surrounding characters up to code 32 are
// ignored.
int32_t VarToIntDef(const std::optional<std::string>& AValue, int32_t ADefault);
// Decimal amount with up to four decimals; "." and "," both separate the decimals.
TAmount VarToCurrDef(const std::optional<std::string>& AValue, TAmount ADefault);
// "True" / "False" in any letter case; anything else gives the default.
bool VarToBoolDef(const std::optional<std::string>& AValue, bool ADefault);
// Drops every character that XML 1.0 does not allow (and every malformed UTF-8 byte).
std::string StripInvalidXmlChars(std::string_view AText);

}  // namespace qd
