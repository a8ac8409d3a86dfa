#include "records.h"

#include <stdexcept>

#include "platform/textconv.h"

namespace qd::vscale {

namespace {

// Reads the fields of one record in order and checks that nothing is missing or left over.
class TReader {
 public:
  explicit TReader(const std::string& ARecord) : FData(ARecord) {}

  std::string Take(size_t ALen, const char* AField) {
    if (FPos + ALen > FData.size())
      throw std::runtime_error(std::string("record ends inside field ") + AField + " (offset " +
                               std::to_string(FPos) + ")");
    std::string s = FData.substr(FPos, ALen);
    FPos += ALen;
    return s;
  }
  uint64_t BCD(size_t ALen, const char* AField) {
    std::string b = Take(ALen, AField);
    try {
      return DecodeBCD(b);
    } catch (const std::runtime_error& e) {
      throw std::runtime_error(std::string(e.what()) + " in field " + AField);
    }
  }
  uint64_t BinBE(size_t ALen, const char* AField) {
    uint64_t v = 0;
    for (unsigned char c : Take(ALen, AField)) v = (v << 8) | c;
    return v;
  }
  uint64_t BinLE(size_t ALen, const char* AField) {
    std::string b = Take(ALen, AField);
    uint64_t v = 0;
    for (size_t i = b.size(); i-- > 0;) v = (v << 8) | static_cast<unsigned char>(b[i]);
    return v;
  }
  void Zeros(size_t ALen, const char* AField) {
    for (char c : Take(ALen, AField))
      if (c != '\0') throw std::runtime_error(std::string("reserved field ") + AField + " is not zero");
  }
  std::string Rest() { return Take(FData.size() - FPos, "text"); }
  // Lines of a text block: font, length, bytes, 0x0D between lines and 0x0C at the end.
  TJson TextBlock(const char* AField) {
    TJson lines = TJson::Array();
    if (Peek(AField) == 0x0C) {
      ++FPos;
      return lines;
    }
    for (;;) {
      uint64_t font = BCD(1, AField);
      if (font > 9) throw std::runtime_error(std::string("font above 9 in ") + AField);
      size_t len = static_cast<size_t>(BinBE(1, AField));
      std::string text = Take(len, AField);
      unsigned char end = static_cast<unsigned char>(Take(1, AField)[0]);
      lines.Push(TJson::Object().Set("font", static_cast<int64_t>(font)).Set("text", platform::Cp866ToUtf8(text)));
      if (end == 0x0C) return lines;
      if (end != 0x0D) throw std::runtime_error(std::string("line of ") + AField + " ends neither with 0D nor 0C");
    }
  }
  void End() {
    if (FPos != FData.size())
      throw std::runtime_error(std::to_string(FData.size() - FPos) + " bytes behind the last field");
  }

 private:
  unsigned char Peek(const char* AField) {
    if (FPos >= FData.size()) throw std::runtime_error(std::string("record ends before ") + AField);
    return static_cast<unsigned char>(FData[FPos]);
  }
  const std::string& FData;
  size_t FPos = 0;
};

// Hundredths as a number of currency units with two decimals.
TJson Currency(uint64_t AHundredths) {
  std::string cents = std::to_string(AHundredths % 100);
  if (cents.size() < 2) cents = "0" + cents;
  return TJson::Number(std::to_string(AHundredths / 100) + "." + cents);
}

// A packed-decimal field of any width as a JSON number.
TJson DecimalDigits(const std::string& ABytes, const char* AField) {
  std::string digits;
  for (unsigned char c : ABytes) {
    if ((c >> 4) > 9 || (c & 15) > 9) throw std::runtime_error(std::string("not packed decimal: ") + AField);
    if (!digits.empty() || c >> 4) digits += static_cast<char>('0' + (c >> 4));
    if (!digits.empty() || (c & 15)) digits += static_cast<char>('0' + (c & 15));
  }
  return TJson::Number(digits.empty() ? "0" : digits);
}

TJson I(uint64_t AValue) { return TJson(static_cast<int64_t>(AValue)); }

void CheckSize(TReader& AReader, size_t ARecordSize, uint64_t AExpected, const char* ATable) {
  uint64_t size = AReader.BinBE(2, "record size");
  if (size != ARecordSize)
    throw std::runtime_error("size field " + std::to_string(size) + " but the record has " +
                             std::to_string(ARecordSize) + " bytes");
  if (AExpected != 0 && size != AExpected)
    throw std::runtime_error(std::string("a ") + ATable + " record has " + std::to_string(AExpected) +
                             " bytes, not " + std::to_string(size));
}

}  // namespace

std::string Hex(const std::string& ABytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : ABytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

const char* TableName(uint8_t ATable) {
  switch (ATable) {
    case 0x23: return "main_groups";
    case 0x25: return "plu";
    case 0x37: return "images";
    case 0x3D: return "shops";
    case 0x41: return "preset_keys";
    case 0xA3: return "group_images";
    case 0xAB: return "piece_unit_weights";
    case 0xDF: return "containers";
    default: return nullptr;
  }
}

uint64_t DecodeBCD(const std::string& ABytes) {
  uint64_t v = 0;
  for (unsigned char c : ABytes) {
    if ((c >> 4) > 9 || (c & 15) > 9) throw std::runtime_error("byte " + Hex(std::string(1, static_cast<char>(c))) +
                                                                " is not packed decimal");
    v = v * 100 + (c >> 4) * 10 + (c & 15);
  }
  return v;
}

TJson DecodeRecord(uint8_t ATable, const std::string& ARecord) {
  TReader r(ARecord);
  TJson j = TJson::Object();
  j.Set("key", I(r.BCD(4, "key")));
  switch (ATable) {
    case 0x25: {
      CheckSize(r, ARecord.size(), 0, "PLU");
      std::string status = r.Take(2, "PLU_Status");
      std::string status2 = r.Take(3, "PLU_Status2");
      bool tare = (static_cast<unsigned char>(status2[0]) & 0x40) != 0;
      j.Set("status", TJson::Object()
                          .Set("piece_goods", (static_cast<unsigned char>(status[0]) & 0x01) != 0)
                          .Set("bits", Hex(status)));
      j.Set("status2", TJson::Object().Set("tare_given", tare).Set("bits", Hex(status2)));
      j.Set("unit_price", Currency(r.BCD(4, "Unit_Price")));
      j.Set("label_format", I(r.BinLE(1, "Label_Format1")));
      j.Set("barcode_format", I(r.BinBE(1, "Barcode_Format")));
      std::string ean = std::to_string(r.BCD(7, "EAN_Data"));
      j.Set("ean_data", std::string(14 - std::min<size_t>(14, ean.size()), '0') + ean);
      j.Set("main_group", I(r.BCD(2, "Main_Group_Code")));
      j.Set("sell_by_date", I(r.BCD(2, "Sell_By_Date")));
      j.Set("sell_by_time", I(r.BCD(2, "Sell_By_Time")));
      j.Set("used_by_date", I(r.BCD(2, "Used_By_Date")));
      j.Set("packed_date", I(r.BCD(2, "Packed_Date")));
      j.Set("packed_time", I(r.BCD(2, "Packed_Time")));
      j.Set("tare", tare ? I(r.BCD(2, "PLU_Tare")) : TJson());
      j.Set("image1", I(r.BCD(1, "Image1")));
      j.Set("images2_10", Hex(r.Take(9, "Image2_10")));
      j.Set("commodity", r.TextBlock("Commodity"));
      j.Set("ingredient", r.TextBlock("Ingredient"));
      j.Set("spec_message", r.TextBlock("SpecMessage"));
      j.Set("bcc", I(r.BinBE(1, "BCC")));
      break;
    }
    case 0xAB:
      CheckSize(r, ARecord.size(), 22, "piece unit weight");
      j.Set("unit_weight", I(r.BCD(4, "unit weight")));
      j.Set("total_unit_weight", I(r.BCD(4, "total unit weight")));
      r.Zeros(8, "reserved");
      break;
    case 0xDF:
      CheckSize(r, ARecord.size(), 10, "container");
      j.Set("plu", I(r.BCD(4, "PLU number")));
      break;
    case 0x23:
      CheckSize(r, ARecord.size(), 0, "main group");
      r.Zeros(1, "reserved");
      j.Set("name", platform::Cp866ToUtf8(r.Rest()));
      break;
    case 0xA3:
      CheckSize(r, ARecord.size(), 8, "group image");
      j.Set("image", I(r.BCD(2, "image number")));
      break;
    case 0x37:
      CheckSize(r, ARecord.size(), 0, "image");
      r.Zeros(1, "reserved");
      j.Set("data", platform::Cp866ToUtf8(r.Rest()));
      break;
    case 0x3D:
      CheckSize(r, ARecord.size(), 0, "shop");
      j.Set("label_format", I(r.BinBE(2, "label format")));
      j.Set("name", r.TextBlock("shop name"));
      break;
    case 0x41: {
      CheckSize(r, ARecord.size(), 89, "preset key");
      j.Set("preset_key", I(r.BCD(4, "preset key")));
      uint64_t status = r.BinBE(1, "status");
      j.Set("status", TJson::Object().Set("value", I(status)).Set("group_key", (status & 0x20) != 0));
      r.Zeros(1, "reserved");
      j.Set("name", platform::Cp866ToUtf8(r.Take(32, "name")));
      r.Zeros(4, "reserved");
      j.Set("fixed_field", DecimalDigits(r.Take(32, "fixed field"), "fixed field"));
      r.Zeros(1, "reserved");
      j.Set("image", I(r.BinLE(4, "image number")));
      r.Zeros(4, "reserved");
      break;
    }
    default:
      throw std::runtime_error("no table " + Hex(std::string(1, static_cast<char>(ATable))));
  }
  r.End();
  return j;
}

}  // namespace qd::vscale
