// The PLU (goods) record of table 0x25, field by field as it goes to the scale.
#pragma once
#include <string>

namespace qd {

struct TPLURecord {
  std::string PLU_Number;       // 4, packed decimal: the key
  std::string PLU_RecordSize;   // 2, big-endian: bytes of the record
  std::string PLU_Status;       // 2, bit fields
  std::string PLU_Status2;      // 3, bit fields
  std::string Unit_Price;       // 4, packed decimal, hundredths
  std::string Label_Format1;    // 1, binary
  std::string Barcode_Format;   // 1, constant 0x05
  std::string EAN_Data;         // 7, packed decimal, 14 digits
  std::string Main_Group_Code;  // 2, packed decimal
  std::string Sell_By_Date;     // 2, packed decimal
  std::string Sell_By_Time;     // 2, packed decimal
  std::string Used_By_Date;     // 2, packed decimal
  std::string Packed_Date;      // 2, packed decimal
  std::string Packed_Time;      // 2, packed decimal
  std::string PLU_Tare;         // 2 or 0 (no tare), packed decimal
  std::string Image1;           // 1, packed decimal 0
  std::string Image2_10;        // 9, packed decimal 0
  std::string Commodity;        // text block, up to 4 lines
  std::string Ingredient;       // text block, up to 15 lines
  std::string SpecMessage;      // text block, up to 8 lines
  std::string BCC;              // 1, constant 0x00

  // Size of the fixed fields 1 to 14, 16, 17 and 21.
  static constexpr int kFixedSize = 47;

  // The 21 fields in order, as they follow the command and table bytes.
  std::string Bytes() const;
  void AppendTo(std::string& AOut) const;
};

}  // namespace qd
