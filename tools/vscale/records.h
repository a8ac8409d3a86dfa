// Decoding of the scale's table records into JSON, field by field.
#pragma once
#include <cstdint>
#include <string>

#include "json.h"

namespace qd::vscale {

// Bytes as hexadecimal pairs separated by blanks ("F1 25 00").
std::string Hex(const std::string& ABytes);

// Name of a table in dumps ("plu", "containers", ...), or nullptr for a table the scale lacks.
const char* TableName(uint8_t ATable);
// The tables of the scale in the order of the dumps.
inline constexpr uint8_t kTables[] = {0x25, 0xAB, 0xDF, 0x23, 0xA3, 0x37, 0x3D, 0x41};

// A packed-decimal field; throws std::runtime_error on a nibble above 9.
uint64_t DecodeBCD(const std::string& ABytes);

// A whole record as written with 0xF1 (key, size field and the rest, without the command and
// table bytes). Throws std::runtime_error describing the first thing that does not fit the
// table's layout.
TJson DecodeRecord(uint8_t ATable, const std::string& ARecord);

}  // namespace qd::vscale
