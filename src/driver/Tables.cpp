// Input tables: parsing, record walking, attribute readers and the record checks.
#include "driver/Tables.h"

#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include <expat.h>

#include "common/text.h"
#include "driver/InputReaders.h"

namespace qd {

namespace {

[[noreturn]] void Fail(const char* AMessage) { throw std::runtime_error(AMessage); }

size_t CharCount(const std::string& AText) {
  size_t n = 0;
  for (unsigned char c : AText)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The text goes to the parser in pieces of this size, each cleaned of the characters that
// XML 1.0 does not allow on its way, so that no cleaned copy of the whole text is made.
constexpr size_t kPiece = 64 * 1024;

// Cleans the next piece of ARest into AOut; the cut never falls inside a UTF-8 sequence.
void NextPiece(std::string_view& ARest, std::string& AOut) {
  size_t n = ARest.size() <= kPiece ? ARest.size() : kPiece;
  if (n < ARest.size()) {
    size_t back = 0;
    while (back < 3 && (static_cast<unsigned char>(ARest[n - back]) & 0xC0) == 0x80) ++back;
    if ((static_cast<unsigned char>(ARest[n - back]) & 0xC0) != 0x80) n -= back;
  }
  AOut = StripInvalidXmlChars(ARest.substr(0, n));
  ARest.remove_prefix(n);
}

// The parser's message with the line and column where it stopped.
[[noreturn]] void FailParse(XML_Parser AParser, const char* AReason) {
  std::string message = "Ошибка разбора XML: ";
  message += AReason ? AReason : XML_ErrorString(XML_GetErrorCode(AParser));
  message += " (строка " + std::to_string(XML_GetCurrentLineNumber(AParser)) + ", столбец " +
             std::to_string(XML_GetCurrentColumnNumber(AParser) + 1) + ")";
  throw std::runtime_error(message);
}

constexpr const char* kMsgDoctype = "описание типа документа не допускается";

// The checking pass, which also counts the records (the children of "Table" named "Record").
struct TCheckState {
  XML_Parser Parser = nullptr;
  int Depth = 0;
  bool RootIsTable = false;
  size_t Records = 0;
};

// Refuses a document type declaration as soon as the parser meets it: its entities would let a
// table define text of its own.
void XMLCALL RefuseDoctype(void* AState, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  XML_StopParser(static_cast<TCheckState*>(AState)->Parser, XML_FALSE);
}

void XMLCALL CountStart(void* AState, const XML_Char* AName, const XML_Char**) {
  auto* st = static_cast<TCheckState*>(AState);
  int depth = st->Depth++;
  if (depth == 0)
    st->RootIsTable = std::string_view(AName) == "Table";
  else if (depth == 1 && st->RootIsTable && SameText(AName, "Record"))
    ++st->Records;
}

void XMLCALL CountEnd(void* AState, const XML_Char*) { --static_cast<TCheckState*>(AState)->Depth; }

// A parser for UTF-8 text, whatever the text's declaration says: the host hands over UTF-16
// and the declaration may still name that.
XML_Parser NewParser() {
  XML_Parser parser = XML_ParserCreate("UTF-8");
  if (!parser) throw std::bad_alloc();
  return parser;
}

struct TParserHolder {
  XML_Parser Parser;
  ~TParserHolder() { XML_ParserFree(Parser); }
};

}  // namespace

size_t CheckWellFormed(std::string_view AText) {
  TParserHolder h{NewParser()};
  TCheckState state;
  state.Parser = h.Parser;
  XML_SetUserData(h.Parser, &state);
  XML_SetStartDoctypeDeclHandler(h.Parser, RefuseDoctype);
  XML_SetElementHandler(h.Parser, CountStart, CountEnd);
  std::string piece;
  std::string_view rest = AText;
  do {
    NextPiece(rest, piece);
    if (XML_Parse(h.Parser, piece.data(), static_cast<int>(piece.size()), rest.empty()) != XML_STATUS_OK)
      FailParse(h.Parser, XML_GetErrorCode(h.Parser) == XML_ERROR_ABORTED ? kMsgDoctype : nullptr);
  } while (!rest.empty());
  return state.Records;
}

// ---- TRecord ----

const std::string* TRecord::Find(std::string_view AName) const {
  for (size_t i = 0; i < FCount; ++i)
    if (FNames[i] == AName) return &FValues[i];
  return nullptr;
}

void TRecord::Add(const char* AName, const char* AValue) {
  if (FCount == FNames.size()) {
    FNames.emplace_back();
    FValues.emplace_back();
  }
  FNames[FCount].assign(AName);
  FValues[FCount].assign(AValue);
  ++FCount;
}

// ---- TInputTable ----

// The reading parser: suspended at every record, resumed by the next Next.
struct TInputTable::TState {
  XML_Parser Parser = nullptr;
  std::string_view Rest;  // text not yet handed to the parser
  std::string Piece;
  int Depth = 0;          // elements open around the parser's position
  bool RootSeen = false;
  bool RootIsTable = false;
  bool Suspended = false;
  bool Done = false;
  TRecord* Target = nullptr;
  bool Found = false;

  ~TState() {
    if (Parser) XML_ParserFree(Parser);
  }

  static void XMLCALL Start(void* AState, const XML_Char* AName, const XML_Char** AAttributes) {
    auto* st = static_cast<TState*>(AState);
    int depth = st->Depth++;
    if (depth == 0) {
      st->RootSeen = true;
      st->RootIsTable = std::string_view(AName) == "Table";
      if (!st->RootIsTable) XML_StopParser(st->Parser, XML_FALSE);
      return;
    }
    if (depth != 1 || !SameText(AName, "Record")) return;
    st->Target->Clear();
    for (const XML_Char** a = AAttributes; *a; a += 2) st->Target->Add(a[0], a[1]);
    st->Found = true;
    XML_StopParser(st->Parser, XML_TRUE);
  }

  static void XMLCALL End(void* AState, const XML_Char*) { --static_cast<TState*>(AState)->Depth; }
};

TInputTable::TInputTable(std::string_view AText) : FText(AText), FRecordCount(CheckWellFormed(FText)) {}

TInputTable::~TInputTable() = default;

bool TInputTable::Next(TRecord& ARecord) {
  if (!FState) {
    FState = std::make_unique<TState>();
    FState->Parser = NewParser();
    FState->Rest = FText;
    XML_SetUserData(FState->Parser, FState.get());
    XML_SetElementHandler(FState->Parser, &TState::Start, &TState::End);
  }
  TState& st = *FState;
  st.Target = &ARecord;
  st.Found = false;
  while (!st.Done) {
    XML_Status r;
    if (st.Suspended) {
      r = XML_ResumeParser(st.Parser);
    } else {
      NextPiece(st.Rest, st.Piece);
      r = XML_Parse(st.Parser, st.Piece.data(), static_cast<int>(st.Piece.size()), st.Rest.empty());
    }
    st.Suspended = r == XML_STATUS_SUSPENDED;
    if (r == XML_STATUS_ERROR) {
      if (st.RootSeen && !st.RootIsTable) Fail(kMsgNoTable);
      FailParse(st.Parser, nullptr);  // the text was checked; kept for safety
    }
    if (!st.Suspended && st.Rest.empty()) st.Done = true;
    if (st.Found) return true;
  }
  if (!st.RootIsTable) Fail(kMsgNoTable);
  return false;
}

std::optional<std::string> AttrValue(const TRecord& ARecord, const char* AName) {
  const std::string* v = ARecord.Find(AName);
  if (!v) return std::nullopt;
  return *v;
}

int32_t ReadInt(const TRecord& ARecord, const char* AName, int32_t ADefault) {
  return VarToIntDef(AttrValue(ARecord, AName), ADefault);
}

std::string ReadText(const TRecord& ARecord, const char* AName) {
  const std::string* v = ARecord.Find(AName);
  return v ? *v : std::string();
}

namespace {

// The goods fields by attribute name, in the order of TGoodsRecord; None for any other name.
enum class TGoodsField : uint8_t {
  PLU, Code, EANData, Name, ShortName, GroupCode, Price, SellByDate, SellByTime, UsedByDate,
  PackedDate, PackedTime, PLUTare, IsWeightGoods, Description, SpecMessage, F1, F2, F3, F4,
  UnitWeight, TotalUnitWeight, None
};
constexpr size_t kGoodsFieldCount = static_cast<size_t>(TGoodsField::None);

// The field an attribute name stands for.
TGoodsField GoodsField(std::string_view AName) {
  using enum TGoodsField;
  auto is = [&](const char* AWord, TGoodsField AField) { return AName == AWord ? AField : None; };
  switch (AName.size()) {
    case 2:
      if (AName[0] != 'F' || AName[1] < '1' || AName[1] > '4') return None;
      return static_cast<TGoodsField>(static_cast<int>(F1) + (AName[1] - '1'));
    case 3: return is("PLU", PLU);
    case 4: return AName[0] == 'C' ? is("Code", Code) : is("Name", Name);
    case 5: return is("Price", Price);
    case 7: return AName[0] == 'E' ? is("EANData", EANData) : is("PLUTare", PLUTare);
    case 9: return AName[0] == 'S' ? is("ShortName", ShortName) : is("GroupCode", GroupCode);
    case 10:
      switch (AName[0]) {
        case 'S': return AName[6] == 'D' ? is("SellByDate", SellByDate) : is("SellByTime", SellByTime);
        case 'U': return AName[1] == 's' ? is("UsedByDate", UsedByDate) : is("UnitWeight", UnitWeight);
        case 'P': return AName[6] == 'D' ? is("PackedDate", PackedDate) : is("PackedTime", PackedTime);
        default: return None;
      }
    case 11: return AName[0] == 'D' ? is("Description", Description) : is("SpecMessage", SpecMessage);
    case 13: return is("IsWeightGoods", IsWeightGoods);
    case 15: return is("TotalUnitWeight", TotalUnitWeight);
    default: return None;
  }
}

std::optional<std::string> ValueOf(const std::string* AValue) {
  if (!AValue) return std::nullopt;
  return *AValue;
}

}  // namespace

TGoodsRecord ReadGoodsRecord(const TRecord& ARecord) {
  // One pass over the record's attributes.
  const std::string* found[kGoodsFieldCount] = {};
  for (size_t i = 0; i < ARecord.Size(); ++i) {
    TGoodsField f = GoodsField(ARecord.Name(i));
    if (f != TGoodsField::None) found[static_cast<size_t>(f)] = &ARecord.Value(i);
  }
  auto value = [&](TGoodsField AField) { return ValueOf(found[static_cast<size_t>(AField)]); };
  auto integer = [&](TGoodsField AField, int32_t ADefault) { return VarToIntDef(value(AField), ADefault); };
  auto text = [&](TGoodsField AField) { return value(AField).value_or(std::string()); };
  using enum TGoodsField;
  TGoodsRecord g;
  g.PLU = integer(PLU, kInvalidNumber);
  g.Code = integer(Code, kInvalidNumber);
  g.EANData = text(EANData);
  g.Name = text(Name);
  g.ShortName = text(ShortName);
  g.GroupCode = integer(GroupCode, kInvalidNumber);
  g.Price = VarToCurrDef(value(Price), kInvalidAmount);
  g.SellByDate = integer(SellByDate, kInvalidNumber);
  g.SellByTime = integer(SellByTime, kInvalidNumber);
  g.UsedByDate = integer(UsedByDate, kInvalidNumber);
  g.PackedDate = integer(PackedDate, kInvalidNumber);
  g.PackedTime = integer(PackedTime, kInvalidNumber);
  g.PLUTare = integer(PLUTare, 0);
  g.IsWeightGoods = VarToBoolDef(value(IsWeightGoods), true);
  g.Description = text(Description);
  g.SpecMessage = text(SpecMessage);
  g.Font.F1 = integer(F1, -1);
  g.Font.F2 = integer(F2, -1);
  g.Font.F3 = integer(F3, -1);
  g.Font.F4 = integer(F4, -1);
  g.UnitWeight = integer(UnitWeight, 0);
  g.TotalUnitWeight = integer(TotalUnitWeight, 0);
  return g;
}

void CheckGoodsRecord(const TGoodsRecord& AGoods) {
  if (CharCount(AGoods.EANData) < 7) Fail(kMsgBarcodeTooShort);
  if (AGoods.PLU == kInvalidNumber) Fail(kMsgBadPlu);
  if (AGoods.Code == kInvalidNumber) Fail(kMsgBadGoodsCode);
  if (AGoods.GroupCode == kInvalidNumber) Fail(kMsgBadGoodsGroup);
  if (AGoods.Price == kInvalidAmount) Fail(kMsgBadPrice);
  if (AGoods.SellByDate == kInvalidNumber) Fail(kMsgBadSellByDate);
  if (AGoods.SellByTime == kInvalidNumber) Fail(kMsgBadSellByTime);
  if (AGoods.PLUTare == kInvalidNumber) Fail(kMsgBadTare);
}

TGroupRecord ReadGroupRecord(const TRecord& ARecord) {
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

TShopRecord ReadShopRecord(const TRecord& ARecord) {
  TShopRecord s;
  s.Code = ReadInt(ARecord, "Code", kInvalidNumber);
  s.Name = ReadText(ARecord, "Name");
  return s;
}

void CheckShopRecord(const TShopRecord& AShop) {
  if (AShop.Code == kInvalidNumber) Fail(kMsgBadShop);
}

TImageRecord ReadImageRecord(const TRecord& ARecord) {
  TImageRecord i;
  i.ImageNumber = ReadInt(ARecord, "ImageNumber", kInvalidNumber);
  i.ImageData = ReadText(ARecord, "ImageData");
  return i;
}

void CheckImageRecord(const TImageRecord& AImage) {
  if (AImage.ImageNumber == kInvalidNumber) Fail(kMsgBadImage);
}

}  // namespace qd
