// Input tables: parsing, record walking, attribute readers and the record checks.
#include "driver/Tables.h"

#include <new>
#include <stdexcept>
#include <string_view>

#include <expat.h>

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

namespace {

// Refuses a document type declaration as soon as the parser meets it: its entities would let a
// table define text of its own.
void XMLCALL RefuseDoctype(void* AParser, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  XML_StopParser(static_cast<XML_Parser>(AParser), XML_FALSE);
}

}  // namespace

void CheckWellFormed(std::string_view AText) {
  // The text is UTF-8 whatever its declaration says: the host hands over UTF-16 and the
  // declaration may still name that.
  XML_Parser parser = XML_ParserCreate("UTF-8");
  if (!parser) throw std::bad_alloc();
  XML_SetUserData(parser, parser);
  XML_SetStartDoctypeDeclHandler(parser, RefuseDoctype);
  bool ok = true;
  const char* data = AText.data();
  size_t left = AText.size();
  // Fed in pieces whose length fits the parser's int.
  constexpr size_t kPiece = 1 << 20;
  do {
    size_t n = left < kPiece ? left : kPiece;
    ok = XML_Parse(parser, data, static_cast<int>(n), n == left) == XML_STATUS_OK;
    data += n;
    left -= n;
  } while (ok && left > 0);
  if (ok) {
    XML_ParserFree(parser);
    return;
  }
  XML_Error code = XML_GetErrorCode(parser);
  std::string message = "Ошибка разбора XML: ";
  message += code == XML_ERROR_ABORTED ? "описание типа документа не допускается" : XML_ErrorString(code);
  message += " (строка " + std::to_string(XML_GetCurrentLineNumber(parser)) + ", столбец " +
             std::to_string(XML_GetCurrentColumnNumber(parser) + 1) + ")";
  XML_ParserFree(parser);
  throw std::runtime_error(message);
}

TInputTable::TInputTable(const std::string& AText) : FText(StripInvalidXmlChars(AText)) {
  CheckWellFormed(FText);
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

namespace {

// The goods fields by attribute name, in the order of TGoodsRecord.
enum TGoodsField {
  gPLU, gCode, gEANData, gName, gShortName, gGroupCode, gPrice, gSellByDate, gSellByTime, gUsedByDate,
  gPackedDate, gPackedTime, gPLUTare, gIsWeightGoods, gDescription, gSpecMessage, gF1, gF2, gF3, gF4,
  gUnitWeight, gTotalUnitWeight, kGoodsFieldCount
};
// The field an attribute name stands for; kGoodsFieldCount for any other name.
int GoodsField(std::string_view AName) {
  auto is = [&](const char* AWord, TGoodsField AField) { return AName == AWord ? AField : kGoodsFieldCount; };
  switch (AName.size()) {
    case 2: return AName[0] == 'F' && AName[1] >= '1' && AName[1] <= '4' ? gF1 + (AName[1] - '1') : kGoodsFieldCount;
    case 3: return is("PLU", gPLU);
    case 4: return AName[0] == 'C' ? is("Code", gCode) : is("Name", gName);
    case 5: return is("Price", gPrice);
    case 7: return AName[0] == 'E' ? is("EANData", gEANData) : is("PLUTare", gPLUTare);
    case 9: return AName[0] == 'S' ? is("ShortName", gShortName) : is("GroupCode", gGroupCode);
    case 10:
      switch (AName[0]) {
        case 'S': return AName[6] == 'D' ? is("SellByDate", gSellByDate) : is("SellByTime", gSellByTime);
        case 'U': return AName[1] == 's' ? is("UsedByDate", gUsedByDate) : is("UnitWeight", gUnitWeight);
        case 'P': return AName[6] == 'D' ? is("PackedDate", gPackedDate) : is("PackedTime", gPackedTime);
        default: return kGoodsFieldCount;
      }
    case 11: return AName[0] == 'D' ? is("Description", gDescription) : is("SpecMessage", gSpecMessage);
    case 13: return is("IsWeightGoods", gIsWeightGoods);
    case 15: return is("TotalUnitWeight", gTotalUnitWeight);
    default: return kGoodsFieldCount;
  }
}

std::optional<std::string> ValueOf(pugi::xml_attribute AAttribute) {
  if (!AAttribute) return std::nullopt;
  return std::string(AAttribute.value());
}

}  // namespace

TGoodsRecord ReadGoodsRecord(pugi::xml_node ARecord) {
  // One pass over the record's attributes; the first of equal names counts, as for a lookup
  // by name.
  pugi::xml_attribute found[kGoodsFieldCount];
  for (pugi::xml_attribute a = ARecord.first_attribute(); a; a = a.next_attribute()) {
    int f = GoodsField(a.name());
    if (f < kGoodsFieldCount && !found[f]) found[f] = a;
  }
  auto integer = [&](TGoodsField AField, int32_t ADefault) { return VarToIntDef(ValueOf(found[AField]), ADefault); };
  auto text = [&](TGoodsField AField) { return std::string(found[AField].value()); };
  TGoodsRecord g;
  g.PLU = integer(gPLU, kInvalidNumber);
  g.Code = integer(gCode, kInvalidNumber);
  g.EANData = text(gEANData);
  g.Name = text(gName);
  g.ShortName = text(gShortName);
  g.GroupCode = integer(gGroupCode, kInvalidNumber);
  std::optional<std::string> price = ValueOf(found[gPrice]);
  if (price)
    for (char& c : *price)
      if (c == ',') c = '.';
  g.Price = VarToCurrDef(price, kInvalidNumber);
  g.SellByDate = integer(gSellByDate, kInvalidNumber);
  g.SellByTime = integer(gSellByTime, kInvalidNumber);
  g.UsedByDate = integer(gUsedByDate, kInvalidNumber);
  g.PackedDate = integer(gPackedDate, kInvalidNumber);
  g.PackedTime = integer(gPackedTime, kInvalidNumber);
  g.PLUTare = integer(gPLUTare, 0);
  g.IsWeightGoods = VarToBoolDef(ValueOf(found[gIsWeightGoods]), true);
  g.Description = text(gDescription);
  g.SpecMessage = text(gSpecMessage);
  g.Font.F1 = integer(gF1, -1);
  g.Font.F2 = integer(gF2, -1);
  g.Font.F3 = integer(gF3, -1);
  g.Font.F4 = integer(gF4, -1);
  g.UnitWeight = integer(gUnitWeight, 0);
  g.TotalUnitWeight = integer(gTotalUnitWeight, 0);
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
