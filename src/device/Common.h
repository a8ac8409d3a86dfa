// Field encoders of the scale records.
// Byte strings are std::string holding any byte; texts are UTF-8.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace qd {

// Font numbers of the first four lines of a text block; outside 0..9 = the default font.
struct TFont {
  int32_t F1 = -1;
  int32_t F2 = -1;
  int32_t F3 = -1;
  int32_t F4 = -1;
};

// An amount counts ten-thousandths of the currency unit (12.5 is 125000).
using TAmount = int64_t;

// The encoders refuse values that do not fit their field with a general error
// (std::runtime_error) naming AField and the value; nothing of a refused record is sent.

// The fields of the scale's records that a value can be refused for. A caller that knows where
// a value came from words the refusal by this identifier (never by the field's name, which
// FieldName gives in one table, so that renaming a field cannot change what the user is told).
enum class TField : uint8_t {
  None,
  // PLU record (table 25)
  PluNumber, UnitPrice, LabelFormat, EanData, MainGroupCode, SellByDate, SellByTime, UsedByDate, PackedDate,
  PackedTime, PluTare, Commodity, Ingredient, SpecMessage, PluRecordSize,
  // piece unit weights (AB) and containers (DF)
  ItemPlu, UnitWeight, TotalUnitWeight, GoodsCode,
  // the numbers of a goods item's two preset keys, made of its group code and goods code
  KeyGroupCode, KeyCode,
  // main groups (23), group images (A3), images (37), shops (3D), preset keys (41)
  GroupCode, ImageNumber, ImageKey, RecordSize, ShopCode, ShopName, ShopLabelFormat, PresetNumber, PresetKey,
  PresetStatus, PresetImage,
  // clears, deletes, reads and raw data
  RecordKey, Data,
};

// The field's name in the device's own messages ("PLU_Number", "размер записи").
std::string_view FieldName(TField AField);

// What an encoder is told of the field it fills: one of the record fields above, or only a
// name (or nothing) for a value that no caller words in its own terms.
struct TFieldRef {
  TField Id = TField::None;
  std::string_view Name;

  TFieldRef() = default;
  TFieldRef(TField AId) : Id(AId), Name(FieldName(AId)) {}  // NOLINT: meant to convert
  TFieldRef(std::string_view AName) : Name(AName) {}        // NOLINT
  TFieldRef(const char* AName) : Name(AName) {}             // NOLINT
};

// A value refused by an encoder, with the record field it was meant for, so that a caller that
// knows where the value came from can word the refusal in its own terms.
class EFieldRefusal : public std::runtime_error {
 public:
  EFieldRefusal(TFieldRef AField, const std::string& AMessage, std::string AReason)
      : std::runtime_error(AMessage), FId(AField.Id), FReason(std::move(AReason)) {}
  TField Id() const { return FId; }
  // What was wrong, without the field's name or the value: "не более 8 десятичных цифр".
  const std::string& Reason() const { return FReason; }

 private:
  TField FId;
  std::string FReason;
};

// The reason of a field whose text is no number at all; its message is the text that the
// system has always given for it ("'<text>' is not a valid integer value"), not the one below.
inline constexpr const char* kReasonNotANumber = "не число";

// Refuses a number for its field (EFieldRefusal):
// "Недопустимое значение поля "<field>": <value> (<reason>)".
[[noreturn]] void RefuseNumber(TFieldRef AField, int64_t AValue, const std::string& AReason);

// ASize bytes of packed decimal, most significant digits first. Range 0 .. 10^(2*ASize)-1.
std::string IntToBCD(int64_t AValue, int ASize, TFieldRef AField = {});
// ASize bytes of unsigned binary, most / least significant byte first. Range 0 .. 256^ASize-1.
std::string IntToBinBE(int64_t AValue, int ASize, TFieldRef AField = {});
std::string IntToBinLE(int64_t AValue, int ASize, TFieldRef AField = {});
// The same, appended to AOut (which is left as it was when the value is refused).
void AppendBCD(std::string& AOut, int64_t AValue, int ASize, TFieldRef AField = {});
void AppendBinBE(std::string& AOut, int64_t AValue, int ASize, TFieldRef AField = {});
void AppendBinLE(std::string& AOut, int64_t AValue, int ASize, TFieldRef AField = {});
// AByte with bit ABit (0 = least significant) set or cleared.
uint8_t SetBit(uint8_t AByte, int ABit, bool AValue);

// Code page 866, one byte per character, "?" for what the code page lacks.
std::string EncodeCP866(const std::string& AText);
void AppendCP866(std::string& AOut, std::string_view AText);

// Lines separated by "||", at most AMaxLines of them; each line is font (one packed-decimal
// byte), length (one byte), the bytes and 0x0D; the last 0x0D becomes 0x0C. An empty text is
// the single byte 0x0C. Fails with "Некорректный номер шрифта" when a line has no valid font,
// and refuses a line longer than 255 bytes.
std::string EncodeTextBlock(const std::string& AText, int AMaxLines, int32_t ADefaultFont, const TFont& AFont,
                            TFieldRef AField = {});
// The same block appended to AOut (left as it was when the block is refused).
void AppendTextBlock(std::string& AOut, std::string_view AText, int AMaxLines, int32_t ADefaultFont,
                     const TFont& AFont, TFieldRef AField = {});

// Two upper-case hexadecimal digits per byte, each followed by ASeparator.
std::string BytesToHex(const std::string& ABytes, const std::string& ASeparator = {});
// Pairs of hexadecimal digits from the start; a trailing odd character is ignored.
// A pair that is not hexadecimal is refused with a general error.
std::string HexToBytes(const std::string& AText, TFieldRef AField = {});
// Hexadecimal text with an optional trailing "H"; 0 when any character is not a digit.
int64_t HexToInt(const std::string& AText);

}  // namespace qd
