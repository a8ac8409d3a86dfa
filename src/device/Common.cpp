// Field encoders of the scale records.
#include "device/Common.h"

#include <cstdio>
#include <stdexcept>

#include "common/text.h"
#include "platform/textconv.h"

namespace qd {

namespace {

std::string FieldPrefix(TFieldRef AField) {
  if (AField.Name.empty()) return "Недопустимое значение ";
  return "Недопустимое значение поля \"" + std::string(AField.Name) + "\": ";
}

void CheckNumber(int64_t AValue, int ASize, bool ADecimal, TFieldRef AField) {
  if (ASize < 1) throw std::invalid_argument("field size must be at least 1 byte");
  if (AValue < 0) RefuseNumber(AField, AValue, "значение не может быть отрицательным");
  if (ADecimal) {
    if (ASize >= 10) return;  // 20 digits hold every 64-bit value
    static constexpr int64_t kLimits[10] = {1,          100,          10000,          1000000,          100000000,
                                            10000000000, 1000000000000, 100000000000000, 10000000000000000,
                                            1000000000000000000};
    if (AValue >= kLimits[ASize])
      RefuseNumber(AField, AValue, "не более " + std::to_string(2 * ASize) + " десятичных цифр");
  } else {
    if (ASize >= 8) return;
    int64_t limit = int64_t{1} << (8 * ASize);
    if (AValue >= limit) RefuseNumber(AField, AValue, "не более " + std::to_string(limit - 1));
  }
}

// Code page 866 byte of a character above ASCII; 0 for one the direct mapping does not
// cover. Russian letters take their two ranges, Ё ё and a few signs of goods texts the top row.
unsigned char Cp866Byte(uint32_t ACode) {
  if (ACode >= 0x410 && ACode <= 0x43F) return static_cast<unsigned char>(0x80 + (ACode - 0x410));
  if (ACode >= 0x440 && ACode <= 0x44F) return static_cast<unsigned char>(0xE0 + (ACode - 0x440));
  switch (ACode) {
    case 0x401: return 0xF0;   // Ё
    case 0x451: return 0xF1;   // ё
    case 0x404: return 0xF2;   // Є
    case 0x454: return 0xF3;   // є
    case 0x407: return 0xF4;   // Ї
    case 0x457: return 0xF5;   // ї
    case 0x40E: return 0xF6;   // Ў
    case 0x45E: return 0xF7;   // ў
    case 0xB0: return 0xF8;    // degree
    case 0x2219: return 0xF9;  // bullet operator
    case 0xB7: return 0xFA;    // middle dot
    case 0x221A: return 0xFB;  // square root
    case 0x2116: return 0xFC;  // numero
    case 0xA4: return 0xFD;    // currency sign
    case 0x25A0: return 0xFE;  // black square
    case 0xA0: return 0xFF;    // no-break space
    default: return 0;
  }
}

// Appends the code page 866 bytes of a text made of ASCII and the characters Cp866Byte knows,
// which is nearly every goods text. False (AOut may then hold part of the text) when the text
// has anything else; the system's converter then takes the whole text.
bool AppendCP866Direct(std::string& AOut, std::string_view AText) {
  const auto* p = reinterpret_cast<const unsigned char*>(AText.data());
  size_t n = AText.size(), at = AOut.size();
  AOut.resize(at + n);  // never more bytes than the UTF-8 text
  char* out = AOut.data() + at;
  for (size_t i = 0; i < n;) {
    unsigned char c = p[i];
    if (c < 0x80) {
      *out++ = static_cast<char>(c);
      ++i;
      continue;
    }
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
      cp = (static_cast<uint32_t>(c & 0x1F) << 6) | (p[i + 1] & 0x3Fu);
      i += 2;
    } else if (c == 0xE2 && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80) {
      cp = (static_cast<uint32_t>(c & 0x0F) << 12) | (static_cast<uint32_t>(p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3Fu);
      i += 3;
    } else {
      return false;
    }
    unsigned char b = Cp866Byte(cp);
    if (b == 0) return false;
    *out++ = static_cast<char>(b);
  }
  AOut.resize(static_cast<size_t>(out - AOut.data()));
  return true;
}

}  // namespace

std::string_view FieldName(TField AField) {
  switch (AField) {
    case TField::None: return {};
    case TField::PluNumber: return "PLU_Number";
    case TField::UnitPrice: return "Unit_Price";
    case TField::LabelFormat: return "Label_Format1";
    case TField::EanData: return "EAN_Data";
    case TField::MainGroupCode: return "Main_Group_Code";
    case TField::SellByDate: return "Sell_By_Date";
    case TField::SellByTime: return "Sell_By_Time";
    case TField::UsedByDate: return "Used_By_Date";
    case TField::PackedDate: return "Packed_Date";
    case TField::PackedTime: return "Packed_Time";
    case TField::PluTare: return "PLU_Tare";
    case TField::Commodity: return "Commodity";
    case TField::Ingredient: return "Ingredient";
    case TField::SpecMessage: return "SpecMessage";
    case TField::PluRecordSize: return "PLU_RecordSize";
    case TField::ItemPlu: return "PLU";
    case TField::UnitWeight: return "вес единицы товара";
    case TField::TotalUnitWeight: return "общий вес единиц товара";
    case TField::GoodsCode: return "код товара";
    case TField::KeyGroupCode: return "GroupCode";
    case TField::KeyCode: return "Code";
    case TField::GroupCode: return "код группы";
    case TField::ImageNumber: return "номер изображения";
    case TField::ImageKey: return "номер изображения";
    case TField::RecordSize: return "размер записи";
    case TField::ShopCode: return "код магазина";
    case TField::ShopName: return "название магазина";
    case TField::ShopLabelFormat: return "номер формата этикетки";
    case TField::PresetNumber: return "номер клавиши";
    case TField::PresetKey: return "код клавиши";
    case TField::PresetStatus: return "статус клавиши";
    case TField::PresetImage: return "номер изображения";
    case TField::RecordKey: return "ключ записи";
    case TField::Data: return "данные";
  }
  return {};
}

void RefuseNumber(TFieldRef AField, int64_t AValue, const std::string& AReason) {
  throw EFieldRefusal(AField, FieldPrefix(AField) + std::to_string(AValue) + " (" + AReason + ")", AReason);
}

void AppendBCD(std::string& AOut, int64_t AValue, int ASize, TFieldRef AField) {
  CheckNumber(AValue, ASize, true, AField);
  size_t at = AOut.size();
  AOut.append(static_cast<size_t>(ASize), '\0');
  char* out = AOut.data() + at;
  uint64_t v = static_cast<uint64_t>(AValue);
  for (int i = ASize - 1; i >= 0 && v != 0; --i) {
    unsigned pair = static_cast<unsigned>(v % 100);
    v /= 100;
    out[i] = static_cast<char>(((pair / 10) << 4) | (pair % 10));
  }
}

void AppendBinBE(std::string& AOut, int64_t AValue, int ASize, TFieldRef AField) {
  CheckNumber(AValue, ASize, false, AField);
  size_t at = AOut.size();
  AOut.append(static_cast<size_t>(ASize), '\0');
  uint64_t v = static_cast<uint64_t>(AValue);
  for (int i = ASize - 1; i >= 0 && v != 0; --i, v >>= 8)
    AOut[at + static_cast<size_t>(i)] = static_cast<char>(v & 0xFF);
}

void AppendBinLE(std::string& AOut, int64_t AValue, int ASize, TFieldRef AField) {
  CheckNumber(AValue, ASize, false, AField);
  size_t at = AOut.size();
  AOut.append(static_cast<size_t>(ASize), '\0');
  uint64_t v = static_cast<uint64_t>(AValue);
  for (int i = 0; i < ASize && v != 0; ++i, v >>= 8) AOut[at + static_cast<size_t>(i)] = static_cast<char>(v & 0xFF);
}

std::string IntToBCD(int64_t AValue, int ASize, TFieldRef AField) {
  std::string out;
  AppendBCD(out, AValue, ASize, AField);
  return out;
}

std::string IntToBinBE(int64_t AValue, int ASize, TFieldRef AField) {
  std::string out;
  AppendBinBE(out, AValue, ASize, AField);
  return out;
}

std::string IntToBinLE(int64_t AValue, int ASize, TFieldRef AField) {
  std::string out;
  AppendBinLE(out, AValue, ASize, AField);
  return out;
}

uint8_t SetBit(uint8_t AByte, int ABit, bool AValue) {
  uint8_t mask = static_cast<uint8_t>(1u << ABit);
  return AValue ? static_cast<uint8_t>(AByte | mask) : static_cast<uint8_t>(AByte & ~mask);
}

void AppendCP866(std::string& AOut, std::string_view AText) {
  size_t at = AOut.size();
  if (AppendCP866Direct(AOut, AText)) return;
  AOut.resize(at);
  AOut += platform::Utf8ToCp866(std::string(AText));
}

std::string EncodeCP866(const std::string& AText) {
  std::string out;
  AppendCP866(out, AText);
  return out;
}

void AppendTextBlock(std::string& AOut, std::string_view AText, int AMaxLines, int32_t ADefaultFont,
                     const TFont& AFont, TFieldRef AField) {
  // The lines are cut from the encoded bytes, at every "||" from the left.
  thread_local std::string t;
  t.clear();
  AppendCP866(t, AText);
  size_t at = AOut.size();
  if (t.empty()) {
    AOut += '\x0C';
    return;
  }
  try {
    size_t start = 0;
    for (int n = 1; n <= AMaxLines; ++n) {
      size_t sep = t.find("||", start);
      size_t end = sep == std::string::npos ? t.size() : sep;
      int32_t f = n == 1 ? AFont.F1 : n == 2 ? AFont.F2 : n == 3 ? AFont.F3 : n == 4 ? AFont.F4 : -1;
      if (f < 0 || f > 9) f = ADefaultFont;
      if (f < 0 || f > 9) throw std::runtime_error("Некорректный номер шрифта");
      size_t length = end - start;
      if (length > 255) {
        std::string line = "строка " + std::to_string(n) + " длиной " + std::to_string(length) + " байт";
        throw EFieldRefusal(AField, FieldPrefix(AField) + line + " (не более 255)", line + ", не более 255");
      }
      AppendBCD(AOut, f, 1);
      AOut += static_cast<char>(length);
      AOut.append(t, start, length);
      AOut += '\x0D';
      if (sep == std::string::npos) break;
      start = sep + 2;
    }
  } catch (...) {
    AOut.resize(at);
    throw;
  }
  if (AOut.size() == at)
    AOut += '\x0C';
  else
    AOut.back() = '\x0C';
}

std::string EncodeTextBlock(const std::string& AText, int AMaxLines, int32_t ADefaultFont, const TFont& AFont,
                            TFieldRef AField) {
  std::string out;
  AppendTextBlock(out, AText, AMaxLines, ADefaultFont, AFont, AField);
  return out;
}

std::string BytesToHex(const std::string& ABytes, const std::string& ASeparator) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(ABytes.size() * (2 + ASeparator.size()));
  for (unsigned char c : ABytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0x0F];
    out += ASeparator;
  }
  return out;
}

std::string HexToBytes(const std::string& AText, TFieldRef AField) {
  std::string out(AText.size() / 2, '\0');
  for (size_t i = 0; i < out.size(); ++i) {
    int hi = HexDigitValue(AText[2 * i]);
    int lo = HexDigitValue(AText[2 * i + 1]);
    if (hi < 0 || lo < 0)
      throw std::runtime_error(FieldPrefix(AField) + "\"" + AText.substr(2 * i, 2) + "\" в позиции " +
                               std::to_string(2 * i + 1) + " не является шестнадцатеричным числом");
    out[i] = static_cast<char>((hi << 4) | lo);
  }
  return out;
}

int64_t HexToInt(const std::string& AText) {
  std::string t = AText;
  for (char& c : t)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (!t.empty() && t.back() == 'H') t.pop_back();
  uint64_t v = 0;
  for (char c : t) {
    int d = HexDigitValue(c);
    if (d < 0) return 0;
    v = v * 16 + static_cast<uint64_t>(d);
  }
  return static_cast<int64_t>(v);
}

}  // namespace qd
