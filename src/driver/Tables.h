// The input tables the host hands to the scale methods: XML text with a top-level "Table"
// element whose "Record" children carry the fields as attributes. This unit parses the text,
// walks the records and reads and checks the records of the four tables (goods, groups,
// shops, images). Sending them to the scale is the driver's business.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "device/Common.h"

namespace qd {

// A number that is missing or cannot be read.
constexpr int32_t kInvalidNumber = -999999;

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

// Fails (std::runtime_error) unless AText is a well-formed XML document without a document
// type declaration; the message is the parser's, with the line and column where it stopped.
void CheckWellFormed(std::string_view AText);

// One input table. The text is cleaned of what XML 1.0 does not allow and parsed when the
// object is made; the records are reached later, so that a text that does not parse fails
// before the scale is contacted and a missing "Table" after it.
class TInputTable {
 public:
  // Fails (std::runtime_error) with the parser's message when the text is not well-formed.
  explicit TInputTable(const std::string& AText);
  TInputTable(const TInputTable&) = delete;
  TInputTable& operator=(const TInputTable&) = delete;

  // The top-level element named exactly "Table"; fails with kMsgNoTable when there is none.
  pugi::xml_node Table() const;

  // Calls AVisit(record) for every child of "Table" named "Record" in any letter case, in
  // document order; other children are skipped.
  template <class F>
  void ForEachRecord(F&& AVisit) const {
    for (pugi::xml_node n = Table().first_child(); n; n = n.next_sibling())
      if (IsRecord(n)) AVisit(n);
  }

  static bool IsRecord(pugi::xml_node ANode);

 private:
  std::string FText;  // the cleaned text; the document points into it
  pugi::xml_document FDoc;
};

// Attribute readers. Names are compared exactly; a missing attribute gives the default.
std::optional<std::string> AttrValue(pugi::xml_node ARecord, const char* AName);
int32_t ReadInt(pugi::xml_node ARecord, const char* AName, int32_t ADefault);
// Decimal amount; "," is read as ".".
TAmount ReadAmount(pugi::xml_node ARecord, const char* AName, TAmount ADefault);
bool ReadBool(pugi::xml_node ARecord, const char* AName, bool ADefault);
std::string ReadText(pugi::xml_node ARecord, const char* AName);

struct TGoodsRecord {
  int32_t PLU = kInvalidNumber;
  int32_t Code = kInvalidNumber;
  std::string EANData;
  std::string Name;
  std::string ShortName;
  int32_t GroupCode = kInvalidNumber;
  TAmount Price = kInvalidNumber;
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
  // The first 32 characters of the short name, or of the name when the short name is empty.
  std::string KeyName() const;
  // Numbers of the goods' two preset keys, in 32-bit arithmetic.
  int32_t FirstPresetNumber() const;
  int32_t SecondPresetNumber() const;
};

TGoodsRecord ReadGoodsRecord(pugi::xml_node ARecord);
// Fails (std::runtime_error) with the first message that applies.
void CheckGoodsRecord(const TGoodsRecord& AGoods);

struct TGroupRecord {
  int32_t Code = kInvalidNumber;
  int32_t ImageNumber = 0;
  std::string Name;
};
TGroupRecord ReadGroupRecord(pugi::xml_node ARecord);
void CheckGroupRecord(const TGroupRecord& AGroup);

struct TShopRecord {
  int32_t Code = kInvalidNumber;
  std::string Name;
};
TShopRecord ReadShopRecord(pugi::xml_node ARecord);
void CheckShopRecord(const TShopRecord& AShop);

struct TImageRecord {
  int32_t ImageNumber = kInvalidNumber;
  std::string ImageData;
};
TImageRecord ReadImageRecord(pugi::xml_node ARecord);
void CheckImageRecord(const TImageRecord& AImage);

}  // namespace qd
