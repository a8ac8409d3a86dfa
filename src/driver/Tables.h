// The input tables the host hands to the scale methods: XML text with a top-level "Table"
// element whose "Record" children carry the fields as attributes. This unit checks the text,
// reads the records one after another with a streaming parser and reads and checks the
// records of the four tables (goods, groups, shops, images). Sending them to the scale is the
// driver's business.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/Common.h"

namespace qd {

// A number that is missing or cannot be read.
constexpr int32_t kInvalidNumber = -999999;
// The same marker as an amount: -999999 in the user's units (an amount counts ten-thousandths).
constexpr TAmount kInvalidAmount = TAmount{kInvalidNumber} * 10000;

// Messages of the table uploads.
inline constexpr const char* kMsgNoTable = "Не найден корневой узел";
inline constexpr const char* kMsgBarcodeTooShort = "Длина данных штрихкода меньше 7 символов";
inline constexpr const char* kMsgBadPlu = "Некорректный номер товара";
inline constexpr const char* kMsgBadGoodsCode = "Некорректный код товара";
inline constexpr const char* kMsgBadGoodsGroup = "Некорректный код группы товара";
inline constexpr const char* kMsgBadPrice = "Некорректная цена";
inline constexpr const char* kMsgBadSellByDate = "Некорректный срок продажи в днях";
inline constexpr const char* kMsgBadSellByTime = "Некорректный срок продажи в часах и минутах";
inline constexpr const char* kMsgBadTare = "Некорректный вес тары";
inline constexpr const char* kMsgBadGroup = "Некорректный номер группы";
inline constexpr const char* kMsgBadImage = "Некорректный номер картинки";
inline constexpr const char* kMsgBadShop = "Некорректный номер магазина";

// Fails (std::runtime_error) unless AText, once cleaned of the characters XML 1.0 does not
// allow, is a well-formed XML document without a document type declaration; the message is
// the parser's, with the line and column where it stopped. Returns the number of records
// (children named "Record", in any letter case, of a top-level "Table").
size_t CheckWellFormed(std::string_view AText);

// The attributes of one record, in document order (names are unique: the text is well-formed).
class TRecord {
 public:
  // The value of the attribute named exactly AName; null when the record has none.
  const std::string* Find(std::string_view AName) const;
  size_t Size() const { return FCount; }
  const std::string& Name(size_t AIndex) const { return FNames[AIndex]; }
  const std::string& Value(size_t AIndex) const { return FValues[AIndex]; }

  void Clear() { FCount = 0; }
  // Storage of earlier records is reused.
  void Add(const char* AName, const char* AValue);

 private:
  std::vector<std::string> FNames, FValues;
  size_t FCount = 0;
};

// One input table, read as a stream. Making the object checks the whole text (CheckWellFormed),
// so that a text that does not parse fails before the scale is contacted; the records are then
// read one at a time by Next, without a document tree, and a missing "Table" shows at the first
// Next, after the scale was contacted. The text is not copied: it must outlive the object.
class TInputTable {
 public:
  explicit TInputTable(std::string_view AText);
  ~TInputTable();
  TInputTable(const TInputTable&) = delete;
  TInputTable& operator=(const TInputTable&) = delete;

  // The next child of the top-level element "Table" (exact name) whose name is "Record" in any
  // letter case, in document order; other children and their contents are skipped. False after
  // the last one; fails with kMsgNoTable when the top-level element is not "Table".
  bool Next(TRecord& ARecord);

  // The number of records Next will give, counted when the text was checked.
  size_t RecordCount() const { return FRecordCount; }

  // Calls AVisit(record) for every record, in document order.
  template <class F>
  void ForEachRecord(F&& AVisit) {
    TRecord record;
    while (Next(record)) AVisit(static_cast<const TRecord&>(record));
  }

  struct TState;

 private:
  std::string_view FText;
  size_t FRecordCount = 0;
  std::unique_ptr<TState> FState;
};

// Attribute readers. Names are compared exactly; a missing attribute gives the default.
std::optional<std::string> AttrValue(const TRecord& ARecord, const char* AName);
int32_t ReadInt(const TRecord& ARecord, const char* AName, int32_t ADefault);
std::string ReadText(const TRecord& ARecord, const char* AName);

struct TGoodsRecord {
  int32_t PLU = kInvalidNumber;
  int32_t Code = kInvalidNumber;
  std::string EANData;
  std::string Name;
  std::string ShortName;
  int32_t GroupCode = kInvalidNumber;
  TAmount Price = kInvalidAmount;
  int32_t SellByDate = kInvalidNumber;
  int32_t SellByTime = kInvalidNumber;
  int32_t UsedByDate = kInvalidNumber;
  int32_t PackedDate = kInvalidNumber;
  int32_t PackedTime = kInvalidNumber;
  int32_t PLUTare = 0;
  bool IsWeightGoods = true;
  std::string Description;
  std::string SpecMessage;
  TFont Font;
  int32_t UnitWeight = 0;
  int32_t TotalUnitWeight = 0;

  // The dates of the PLU record that are not checked: a missing or unreadable one is 0 (not set).
  int32_t UsedByDateOrZero() const { return UsedByDate == kInvalidNumber ? 0 : UsedByDate; }
  int32_t PackedDateOrZero() const { return PackedDate == kInvalidNumber ? 0 : PackedDate; }
  int32_t PackedTimeOrZero() const { return PackedTime == kInvalidNumber ? 0 : PackedTime; }
  bool HasUnitWeights() const { return UnitWeight != 0 || TotalUnitWeight != 0; }
};

TGoodsRecord ReadGoodsRecord(const TRecord& ARecord);
// Fails (std::runtime_error) with the first message that applies.
void CheckGoodsRecord(const TGoodsRecord& AGoods);

struct TGroupRecord {
  int32_t Code = kInvalidNumber;
  int32_t ImageNumber = 0;
  std::string Name;
};
TGroupRecord ReadGroupRecord(const TRecord& ARecord);
void CheckGroupRecord(const TGroupRecord& AGroup);

struct TShopRecord {
  int32_t Code = kInvalidNumber;
  std::string Name;
};
TShopRecord ReadShopRecord(const TRecord& ARecord);
void CheckShopRecord(const TShopRecord& AShop);

struct TImageRecord {
  int32_t ImageNumber = kInvalidNumber;
  std::string ImageData;
};
TImageRecord ReadImageRecord(const TRecord& ARecord);
void CheckImageRecord(const TImageRecord& AImage);

}  // namespace qd
