// Input tables: parsing, record walking, attribute readers and the record checks.
#include "driver/Tables.h"

#include <stdexcept>

#include "common/text.h"

namespace qd {

namespace {

[[noreturn]] void Fail(const char* AMessage) { throw std::runtime_error(AMessage); }

// Byte length of the first ACount characters of a UTF-8 text.
size_t PrefixBytes(const std::string& AText, size_t ACount) {
  size_t pos = 0, chars = 0;
  for (; pos < AText.size(); ++pos) {
    if ((static_cast<unsigned char>(AText[pos]) & 0xC0) != 0x80) {
      if (chars == ACount) break;
      ++chars;
    }
  }
  return pos;
}

size_t CharCount(const std::string& AText) {
  size_t n = 0;
  for (unsigned char c : AText)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

int32_t Wrap32(int64_t AValue) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(AValue))); }

}  // namespace

TInputTable::TInputTable(const std::string& AText) : FText(StripInvalidXmlChars(AText)) {
  // Parsed in place: the document keeps pointers into FText instead of a second copy. The
  // encoding is fixed, because a declaration may name the host's UTF-16 while the text is
  // already UTF-8 here.
  pugi::xml_parse_result r =
      FDoc.load_buffer_inplace(FText.data(), FText.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!r)
    throw std::runtime_error("Ошибка разбора XML: " + std::string(r.description()) + " (позиция " +
                             std::to_string(r.offset + 1) + ")");
}

pugi::xml_node TInputTable::Table() const {
  for (pugi::xml_node n = FDoc.first_child(); n; n = n.next_sibling())
    if (n.type() == pugi::node_element && std::string_view(n.name()) == "Table") return n;
  Fail(kMsgNoTable);
}

bool TInputTable::IsRecord(pugi::xml_node ANode) {
  return ANode.type() == pugi::node_element && SameText(ANode.name(), "Record");
}

std::optional<std::string> AttrValue(pugi::xml_node ARecord, const char* AName) {
  pugi::xml_attribute a = ARecord.attribute(AName);
  if (!a) return std::nullopt;
  return std::string(a.value());
}

int32_t ReadInt(pugi::xml_node ARecord, const char* AName, int32_t ADefault) {
  return VarToIntDef(AttrValue(ARecord, AName), ADefault);
}

TAmount ReadAmount(pugi::xml_node ARecord, const char* AName, TAmount ADefault) {
  std::optional<std::string> v = AttrValue(ARecord, AName);
  if (v)
    for (char& c : *v)
      if (c == ',') c = '.';
  return VarToCurrDef(v, ADefault);
}

bool ReadBool(pugi::xml_node ARecord, const char* AName, bool ADefault) {
  return VarToBoolDef(AttrValue(ARecord, AName), ADefault);
}

std::string ReadText(pugi::xml_node ARecord, const char* AName) { return ARecord.attribute(AName).value(); }

std::string TGoodsRecord::KeyName() const {
  const std::string& source = ShortName.empty() ? Name : ShortName;
  return source.substr(0, PrefixBytes(source, 32));
}

int32_t TGoodsRecord::FirstPresetNumber() const {
  return Wrap32((static_cast<int64_t>(GroupCode) - 1) * 1000 + Code);
}

int32_t TGoodsRecord::SecondPresetNumber() const {
  return Wrap32((static_cast<int64_t>(GroupCode) + 89) * 1000 + Code);
}

TGoodsRecord ReadGoodsRecord(pugi::xml_node ARecord) {
  TGoodsRecord g;
  g.PLU = ReadInt(ARecord, "PLU", kInvalidNumber);
  g.Code = ReadInt(ARecord, "Code", kInvalidNumber);
  g.EANData = ReadText(ARecord, "EANData");
  g.Name = ReadText(ARecord, "Name");
  g.ShortName = ReadText(ARecord, "ShortName");
  g.GroupCode = ReadInt(ARecord, "GroupCode", kInvalidNumber);
  g.Price = ReadAmount(ARecord, "Price", kInvalidNumber);
  g.SellByDate = ReadInt(ARecord, "SellByDate", kInvalidNumber);
  g.SellByTime = ReadInt(ARecord, "SellByTime", kInvalidNumber);
  g.UsedByDate = ReadInt(ARecord, "UsedByDate", kInvalidNumber);
  g.PackedDate = ReadInt(ARecord, "PackedDate", kInvalidNumber);
  g.PackedTime = ReadInt(ARecord, "PackedTime", kInvalidNumber);
  g.PLUTare = ReadInt(ARecord, "PLUTare", 0);
  g.IsWeightGoods = ReadBool(ARecord, "IsWeightGoods", true);
  g.Description = ReadText(ARecord, "Description");
  g.SpecMessage = ReadText(ARecord, "SpecMessage");
  g.Font.F1 = ReadInt(ARecord, "F1", -1);
  g.Font.F2 = ReadInt(ARecord, "F2", -1);
  g.Font.F3 = ReadInt(ARecord, "F3", -1);
  g.Font.F4 = ReadInt(ARecord, "F4", -1);
  g.UnitWeight = ReadInt(ARecord, "UnitWeight", 0);
  g.TotalUnitWeight = ReadInt(ARecord, "TotalUnitWeight", 0);
  return g;
}

void CheckGoodsRecord(const TGoodsRecord& AGoods) {
  if (CharCount(AGoods.EANData) < 7) Fail(kMsgBarcodeTooShort);
  if (AGoods.PLU == kInvalidNumber) Fail(kMsgBadPlu);
  if (AGoods.Code == kInvalidNumber) Fail(kMsgBadGoodsCode);
  if (AGoods.GroupCode == kInvalidNumber) Fail(kMsgBadGoodsGroup);
  if (AGoods.Price == kInvalidNumber) Fail(kMsgBadPrice);
  if (AGoods.SellByDate == kInvalidNumber) Fail(kMsgBadSellByDate);
  if (AGoods.SellByTime == kInvalidNumber) Fail(kMsgBadSellByTime);
  if (AGoods.PLUTare == kInvalidNumber) Fail(kMsgBadTare);
}

TGroupRecord ReadGroupRecord(pugi::xml_node ARecord) {
  TGroupRecord g;
  g.Code = ReadInt(ARecord, "Code", kInvalidNumber);
  // The picture number is read only when its text is not empty; missing or empty is 0.
  std::optional<std::string> image = AttrValue(ARecord, "ImageNumber");
  g.ImageNumber = image && !image->empty() ? VarToIntDef(image, kInvalidNumber) : 0;
  g.Name = ReadText(ARecord, "Name");
  return g;
}

void CheckGroupRecord(const TGroupRecord& AGroup) {
  if (AGroup.Code == kInvalidNumber) Fail(kMsgBadGroup);
  if (AGroup.ImageNumber == kInvalidNumber) Fail(kMsgBadImage);
}

TShopRecord ReadShopRecord(pugi::xml_node ARecord) {
  TShopRecord s;
  s.Code = ReadInt(ARecord, "Code", kInvalidNumber);
  s.Name = ReadText(ARecord, "Name");
  return s;
}

void CheckShopRecord(const TShopRecord& AShop) {
  if (AShop.Code == kInvalidNumber) Fail(kMsgBadShop);
}

TImageRecord ReadImageRecord(pugi::xml_node ARecord) {
  TImageRecord i;
  i.ImageNumber = ReadInt(ARecord, "ImageNumber", kInvalidNumber);
  i.ImageData = ReadText(ARecord, "ImageData");
  return i;
}

void CheckImageRecord(const TImageRecord& AImage) {
  if (AImage.ImageNumber == kInvalidNumber) Fail(kMsgBadImage);
}

}  // namespace qd
