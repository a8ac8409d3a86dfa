// Command exchange with the scale and the records of its tables.
#include "device/Device.h"

#include <chrono>
#include <exception>
#include <stdexcept>

#include "common/errors.h"
#include "common/log.h"

namespace qd {

namespace {

// Every one of the eight bits of a status byte from a pattern (bit 0 = least significant).
uint8_t SetBits(uint8_t AByte, uint8_t APattern) {
  for (int bit = 0; bit < 8; ++bit) AByte = SetBit(AByte, bit, ((APattern >> bit) & 1) != 0);
  return AByte;
}

// Length of the first ACount characters of a UTF-8 text, in bytes.
size_t PrefixBytes(const std::string& AText, size_t ACount) {
  size_t pos = 0, chars = 0;
  while (pos < AText.size()) {
    if ((static_cast<unsigned char>(AText[pos]) & 0xC0) != 0x80) {
      if (chars == ACount) break;
      ++chars;
    }
    ++pos;
  }
  return pos;
}

size_t CharCount(std::string_view AText) {
  size_t n = 0;
  for (unsigned char c : AText)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// Ten-thousandths to hundredths, a tie going to the even neighbour.
int64_t ToHundredths(TAmount APrice) {
  bool negative = APrice < 0;
  uint64_t p = negative ? 0 - static_cast<uint64_t>(APrice) : static_cast<uint64_t>(APrice);
  uint64_t q = p / 100, r = p % 100;
  if (r > 50 || (r == 50 && q % 2 == 1)) ++q;
  return negative ? -static_cast<int64_t>(q) : static_cast<int64_t>(q);
}

int64_t BarcodeNumber(const std::string& ABarcode, bool AIsWeightGoods) {
  std::string text = ABarcode.substr(0, PrefixBytes(ABarcode, 7)) + "00000" + (AIsWeightGoods ? "01" : "02");
  size_t i = (text[0] == '+' || text[0] == '-') ? 1 : 0;
  bool valid = i < text.size() && text.size() - i <= 18;
  for (size_t k = i; valid && k < text.size(); ++k) valid = text[k] >= '0' && text[k] <= '9';
  if (!valid) {
    throw EFieldRefusal(TField::EanData, "'" + text + "' is not a valid integer value", kReasonNotANumber);
  }
  int64_t v = std::stoll(text.substr(i));
  return text[0] == '-' ? -v : v;
}

}  // namespace

void CheckPresetNumbers(int32_t AGroupCode, int32_t ACode) {
  constexpr int64_t kMaxKey = 99999999;
  const int64_t group = AGroupCode, code = ACode;
  if ((group - 1) * 1000 + code < 0) {
    // The least group code whose thousands make up for a goods code below 1000 (or negative).
    int64_t shortfall = -code;
    int64_t least = 1 + (shortfall >= 0 ? (shortfall + 999) / 1000 : -(-shortfall / 1000));
    RefuseNumber(TField::KeyGroupCode, group, "не менее " + std::to_string(least) + " при Code = " + std::to_string(code));
  }
  if ((group + 89) * 1000 + code > kMaxKey)
    RefuseNumber(TField::KeyCode, code,
                 "не более " + std::to_string(kMaxKey - (group + 89) * 1000) + " при GroupCode = " + std::to_string(group));
}

void TDevice::Enable(const std::string& AIPAddress, int32_t AIPPort) {
  FLastHead.clear();
  FLongestAnswerUs = 0;
  FRefusalPending = false;
  FStrayCount = 0;
  FTCPSocket.SetIPAddress(AIPAddress);
  FTCPSocket.SetIPPort(AIPPort);
  FTCPSocket.SetConnection();
}

void TDevice::Disable() { FTCPSocket.CloseConnection(); }

void TDevice::RunOperation(const std::string& AIPAddress, int32_t AIPPort, const std::function<void()>& ACommands) {
  Disable();
  Enable(AIPAddress, AIPPort);
  try {
    ACommands();
  } catch (...) {
    LookBehindRefusal();  // a surplus found there replaces the refusal
    throw;
  }
  FinishExchange();
}

void TDevice::LookBehindRefusal() {
  if (!FRefusalPending) return;
  FRefusalPending = false;
  if (!FTCPSocket.Connected()) return;
  FTCPSocket.EndSending();
  LookForSurplus(TTCPSocket::kReceiveTimeoutMs);
}

void TDevice::RaiseSurplus(const std::string& AKept, size_t ATotal) {
  if (LogAdmits(kLogError)) {
    std::string details = BytesToHex(AKept, " ");
    details += ATotal > AKept.size() ? "... (" : "(";
    details += (ATotal >= kSurplusReadLimit ? "не менее " : "") + std::to_string(ATotal) + " байт)";
    WriteLog(kMsgUnexpectedData, details, kLogError);
  }
  // Answers can no longer be told from the commands they belong to: nothing more is sent on
  // this connection.
  Disable();
  std::string message = kMsgUnexpectedData;
  if (FLastHead.empty()) {
    message += " до первой команды";
  } else {
    message += " после ответа на команду " + BytesToHex(FLastHead.substr(0, 1));
    if (FLastHead.size() > 1) message += ", таблица " + BytesToHex(FLastHead.substr(1, 1));
    if (FLastHead.size() > 2) message += ", ключ = " + BytesToHex(FLastHead.substr(2));
  }
  throw EquException(kErrDriver, message);
}

void TDevice::LookForSurplus(int AMilliseconds) {
  if (FStrayCount == 0 && (!FTCPSocket.Connected() || !FTCPSocket.WaitForData(AMilliseconds))) return;
  ReadOffSurplus();
}

bool TDevice::ReadOffSurplus() {
  if (FStrayCount == 0) FStray.clear();
  size_t total = FStrayCount;
  FStrayCount = 0;
  bool closed = false;
  if (FTCPSocket.Connected() && total < kSurplusReadLimit) {
    std::string more;
    total += FTCPSocket.ReadOff(more, kSurplusKept - FStray.size(), kSurplusReadLimit - total, closed);
    FStray += more;
  }
  if (total > 0) RaiseSurplus(FStray, total);
  return closed;
}

int TDevice::FinalLookMs() const {
  int64_t ms = kFinalLookMinMs + 2 * FLongestAnswerUs / 1000;
  return static_cast<int>(ms > kFinalLookMaxMs ? kFinalLookMaxMs : ms);
}

void TDevice::FinishExchange() {
  if (!FLastHead.empty()) LookForSurplus(FinalLookMs());
}

void TDevice::SendCommand(const std::string& ACmd) {
  // Whatever the scale sent beyond the answers read so far belongs to no command. Each answer
  // is read together with all that had arrived by then (ReceiveReply), and what arrives later
  // shows with the next answer; before the first command, the look is made here.
  if ((FStrayCount > 0 || FLastHead.empty()) && ReadOffSurplus()) throw EquException(kErrDriver, kMsgPeerClosed);
  if (FExtLogEnabled && LogAdmits(kLogDebug)) WriteLog("Данные обмена -> ", BytesToHex(ACmd), kLogDebug);
  FTCPSocket.WriteStr(ACmd);
  FLastHead.assign(ACmd, 0, 6);  // short: kept in the string itself, no allocation
}

void TDevice::ReceiveReply() {
  const auto start = std::chrono::steady_clock::now();
  // The answer is one byte; the one receive takes whatever has come with it, so that bytes
  // that should not be there are seen without a look of their own before the next command.
  char received[kAnswerRead];
  const size_t got = FTCPSocket.ReadSome(received, sizeof received);
  const int64_t took =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
  if (took > FLongestAnswerUs) FLongestAnswerUs = took;
  FResponse.assign(received, 1);
  const bool read = !FLastHead.empty() && static_cast<uint8_t>(FLastHead[0]) == scale::kCmdRead;
  if (read) {
    FReadData.assign(received + 1, got - 1);  // the record the scale sent right behind
    ReceiveReadData();
  } else if (got > 1) {
    FStray.assign(received + 1, std::min(got - 1, kSurplusKept));
    FStrayCount = got - 1;
  }
  if (FExtLogEnabled && LogAdmits(kLogDebug))
    WriteLog("Данные обмена <- ", BytesToHex(read ? FResponse + FReadData : FResponse), kLogDebug);
}

void TDevice::ReceiveReadData() {
  // The whole read is bounded by the receive time-out, whatever pace the scale keeps.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TTCPSocket::kReceiveTimeoutMs);
  int wait = FReadData.empty() ? FinalLookMs() : kReadGapMs;
  std::string chunk;
  while (FReadData.size() < kReadDataLimit) {
    const int64_t left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !FTCPSocket.WaitForData(static_cast<int>(left < wait ? left : wait))) break;
    bool closed = false;
    const size_t room = kReadDataLimit - FReadData.size();
    const size_t got = FTCPSocket.ReadOff(chunk, room, room, closed);
    FReadData += chunk;
    if (closed || got == 0) break;  // the scale's close is seen by the next command
    wait = kReadGapMs;
  }
}

bool TDevice::Accepted(uint8_t ASuccess) {
  if (FResponse.empty() || static_cast<uint8_t>(FResponse[0]) == ASuccess) return true;
  // The byte may have been a late answer to an earlier command, with this command's own answer
  // behind it: the operation looks for it before the refusal is reported (LookBehindRefusal).
  FRefusalPending = true;
  return false;
}

void TDevice::RunCommand(const std::string& ACmd) {
  SendCommand(ACmd);
  ReceiveReply();
}

std::string& TDevice::StartFrame(uint8_t ACommand, uint8_t ATable) {
  FFrame.clear();
  FFrame += static_cast<char>(ACommand);
  FFrame += static_cast<char>(ATable);
  return FFrame;
}

bool TDevice::SendFrame(uint8_t ASuccess) {
  FRequest.swap(FFrame);
  RunCommand(FRequest);
  return Accepted(ASuccess);
}

void TDevice::BuildPluFrame(int32_t APLU, int32_t AMainGroupNumber, int32_t ASellByDate, int32_t ASellByTime,
                            int32_t AUsedByDate, int32_t APackedDate, int32_t APackedTime, int32_t APLUTare,
                            const std::string& ABarcode, const std::string& AName, const std::string& AIngredients,
                            const std::string& ASpecMessage, TAmount APrice, bool AIsWeightGoods,
                            const TFont& ACommodityFont) {
  int64_t barcode = BarcodeNumber(ABarcode, AIsWeightGoods);
  bool tare = APLUTare != 0;

  FPLU_StatusByte1 = SetBits(FPLU_StatusByte1, 0x74);
  FPLU_StatusByte1 = SetBit(FPLU_StatusByte1, 0, !AIsWeightGoods);
  FPLU_StatusByte2 = SetBits(FPLU_StatusByte2, 0x00);
  FPLU_Status2Byte1 = SetBits(FPLU_Status2Byte1, 0x1D);
  FPLU_Status2Byte1 = SetBit(FPLU_Status2Byte1, 6, tare);
  FPLU_Status2Byte2 = SetBits(FPLU_Status2Byte2, 0xE0);
  FPLU_Status2Byte3 = SetBits(FPLU_Status2Byte3, 0x5F);

  // Every field is rebuilt in its own storage, which is kept from record to record.
  TPLURecord& r = FPLURecord;
  auto bcd = [](std::string& AField, int64_t AValue, int ASize, TField AName) {
    AField.clear();
    AppendBCD(AField, AValue, ASize, AName);
  };
  bcd(r.PLU_Number, APLU, 4, TField::PluNumber);
  r.PLU_Status.assign({static_cast<char>(FPLU_StatusByte1), static_cast<char>(FPLU_StatusByte2)});
  r.PLU_Status2.assign({static_cast<char>(FPLU_Status2Byte1), static_cast<char>(FPLU_Status2Byte2),
                        static_cast<char>(FPLU_Status2Byte3)});
  bcd(r.Unit_Price, ToHundredths(APrice), 4, TField::UnitPrice);
  r.Label_Format1.clear();
  AppendBinLE(r.Label_Format1, FLabelFormatNumber, 1, TField::LabelFormat);
  r.Barcode_Format.assign(1, '\x05');
  bcd(r.EAN_Data, barcode, 7, TField::EanData);
  bcd(r.Main_Group_Code, AMainGroupNumber, 2, TField::MainGroupCode);
  bcd(r.Sell_By_Date, ASellByDate, 2, TField::SellByDate);
  bcd(r.Sell_By_Time, ASellByTime, 2, TField::SellByTime);
  bcd(r.Used_By_Date, AUsedByDate, 2, TField::UsedByDate);
  bcd(r.Packed_Date, APackedDate, 2, TField::PackedDate);
  bcd(r.Packed_Time, APackedTime, 2, TField::PackedTime);
  r.PLU_Tare.clear();
  if (tare) AppendBCD(r.PLU_Tare, APLUTare, 2, TField::PluTare);
  r.Image1.assign(1, '\0');
  r.Image2_10.assign(9, '\0');
  r.Commodity.clear();
  AppendTextBlock(r.Commodity, AName, 4, FCommodityFont, ACommodityFont, TField::Commodity);
  r.Ingredient.clear();
  AppendTextBlock(r.Ingredient, AIngredients, 15, FIngredientFont, SetDefFont(), TField::Ingredient);
  r.SpecMessage.clear();
  AppendTextBlock(r.SpecMessage, ASpecMessage, 8, FSpecMessageFont, SetDefFont(), TField::SpecMessage);
  r.BCC.assign(1, '\0');
  int64_t size = TPLURecord::kFixedSize + (tare ? 2 : 0) + static_cast<int64_t>(r.Commodity.size()) +
                 static_cast<int64_t>(r.Ingredient.size()) + static_cast<int64_t>(r.SpecMessage.size());
  r.PLU_RecordSize.clear();
  AppendBinBE(r.PLU_RecordSize, size, 2, TField::PluRecordSize);
  r.AppendTo(StartFrame(scale::kCmdWrite, scale::kTablePlu));
}

std::string TDevice::BuildPlu(int32_t APLU, int32_t AMainGroupNumber, int32_t ASellByDate, int32_t ASellByTime,
                              int32_t AUsedByDate, int32_t APackedDate, int32_t APackedTime, int32_t APLUTare,
                              const std::string& ABarcode, const std::string& AName, const std::string& AIngredients,
                              const std::string& ASpecMessage, TAmount APrice, bool AIsWeightGoods,
                              const TFont& ACommodityFont) {
  BuildPluFrame(APLU, AMainGroupNumber, ASellByDate, ASellByTime, AUsedByDate, APackedDate, APackedTime, APLUTare,
                ABarcode, AName, AIngredients, ASpecMessage, APrice, AIsWeightGoods, ACommodityFont);
  return FFrame;
}

void TDevice::RefusePlu(int32_t APLU, const std::string& AName) {
  throw std::runtime_error(TItemFrames::RefusalText(TItemFrames::TKind::Plu, APLU, 0, AName));
}

void TDevice::WritePlu(int32_t APLU, int32_t AMainGroupNumber, int32_t ASellByDate, int32_t ASellByTime,
                       int32_t AUsedByDate, int32_t APackedDate, int32_t APackedTime, int32_t APLUTare,
                       const std::string& ABarcode, const std::string& AName, const std::string& AIngredients,
                       const std::string& ASpecMessage, TAmount APrice, bool AIsWeightGoods,
                       const TFont& ACommodityFont) {
  BuildPluFrame(APLU, AMainGroupNumber, ASellByDate, ASellByTime, AUsedByDate, APackedDate, APackedTime, APLUTare,
                ABarcode, AName, AIngredients, ASpecMessage, APrice, AIsWeightGoods, ACommodityFont);
  if (!SendFrame(scale::kAck)) RefusePlu(APLU, AName);
}

void TDevice::BuildPieceUnitWeightFrame(int32_t APLU, int32_t AUnitWeight, int32_t ATotalUnitWeight) {
  std::string& f = StartFrame(scale::kCmdWrite, scale::kTablePieceUnitWeight);
  AppendBCD(f, APLU, 4, TField::ItemPlu);
  AppendBinBE(f, 22, 2);
  AppendBCD(f, AUnitWeight, 4, TField::UnitWeight);
  AppendBCD(f, ATotalUnitWeight, 4, TField::TotalUnitWeight);
  f.append(8, '\0');
}

void TDevice::WritePieceUnitWeight(int32_t APLU, int32_t AUnitWeight, int32_t ATotalUnitWeight) {
  BuildPieceUnitWeightFrame(APLU, AUnitWeight, ATotalUnitWeight);
  if (!SendFrame(scale::kAck))
    throw std::runtime_error(TItemFrames::RefusalText(TItemFrames::TKind::UnitWeight, APLU, 0, {}));
}

void TDevice::BuildContainerFrame(int32_t APLU, int32_t ACode) {
  std::string& f = StartFrame(scale::kCmdWrite, scale::kTableContainer);
  AppendBCD(f, ACode, 4, TField::GoodsCode);
  AppendBinBE(f, 10, 2);
  AppendBCD(f, APLU, 4, TField::ItemPlu);
}

void TDevice::WriteContainer(int32_t APLU, int32_t ACode) {
  BuildContainerFrame(APLU, ACode);
  if (!SendFrame(scale::kAck))
    throw std::runtime_error(TItemFrames::RefusalText(TItemFrames::TKind::Container, APLU, ACode, {}));
}

// A write frame whose record is a four-digit key, the record size, a zero byte and the text
// in code page 866 (main groups and images).
void TDevice::StartKeyedTextRecord(uint8_t ATable, int32_t AKey, TField AKeyField, const std::string& AText) {
  std::string text = EncodeCP866(AText);
  std::string& f = StartFrame(scale::kCmdWrite, ATable);
  AppendBCD(f, AKey, 4, AKeyField);
  AppendBinBE(f, 7 + static_cast<int64_t>(text.size()), 2, TField::RecordSize);
  f += '\0';
  f += text;
}

void TDevice::WriteGroup(int32_t ACode, const std::string& AName) {
  StartKeyedTextRecord(scale::kTableMainGroup, ACode, TField::GroupCode, AName);
  if (!SendFrame(scale::kAck))
    throw std::runtime_error(TItemFrames::RefusalText(TItemFrames::TKind::Group, ACode, 0, AName));
}

void TDevice::BuildGroupImageFrame(int32_t AMainGroupNumber, int32_t AImageNumber) {
  std::string& f = StartFrame(scale::kCmdWrite, scale::kTableGroupImage);
  AppendBCD(f, AMainGroupNumber, 4, TField::GroupCode);
  AppendBinBE(f, 8, 2);
  AppendBCD(f, AImageNumber, 2, TField::ImageNumber);
}

void TDevice::WriteGroupImage(int32_t AMainGroupNumber, int32_t AImageNumber) {
  BuildGroupImageFrame(AMainGroupNumber, AImageNumber);
  if (!SendFrame(scale::kAck))
    throw std::runtime_error(TItemFrames::RefusalText(TItemFrames::TKind::GroupImage, AMainGroupNumber, 0, {}));
}

void TDevice::WriteImage(int32_t AImageNumber, const std::string& AImageData) {
  StartKeyedTextRecord(scale::kTableImage, AImageNumber, TField::ImageKey, AImageData);
  if (!SendFrame(scale::kAck))
    throw std::runtime_error(TItemFrames::RefusalText(TItemFrames::TKind::Image, AImageNumber, 0, {}));
}

void TDevice::BuildShopFrame(int32_t ACode, const std::string& AName) {
  std::string block = EncodeTextBlock(AName, 3, FCompanyFont, SetDefFont(), TField::ShopName);
  std::string& f = StartFrame(scale::kCmdWrite, scale::kTableShop);
  AppendBCD(f, ACode, 4, TField::ShopCode);
  AppendBinBE(f, 8 + static_cast<int64_t>(block.size()), 2, TField::RecordSize);
  AppendBinBE(f, FLabelFormatNumber, 2, TField::ShopLabelFormat);
  f += block;
}

void TDevice::WriteShop(int32_t ACode, const std::string& AName) {
  BuildShopFrame(ACode, AName);
  if (!SendFrame(scale::kAck))
    throw std::runtime_error(TItemFrames::RefusalText(TItemFrames::TKind::Shop, ACode, 0, {}));
}

void TDevice::BuildPresetKeyFrame(int32_t APresetNumber, int32_t APresetKey, int32_t AStatus,
                                  int32_t AImageNumber, const std::string& AName) {
  std::string& f = StartFrame(scale::kCmdWrite, scale::kTablePresetKey);
  AppendBCD(f, APresetNumber, 4, TField::PresetNumber);
  AppendBinBE(f, 89, 2);
  AppendBCD(f, APresetKey, 4, TField::PresetKey);
  AppendBinBE(f, AStatus, 1, TField::PresetStatus);
  f += '\0';
  // The first 32 characters padded with blanks to 32, one byte each; kept at exactly 32
  // bytes whatever the conversion did.
  size_t nameAt = f.size();
  size_t prefix = PrefixBytes(AName, 32);
  AppendCP866(f, std::string_view(AName).substr(0, prefix));
  f.append(32 - CharCount(std::string_view(AName).substr(0, prefix)), ' ');
  f.resize(nameAt + 32, ' ');
  f.append(4, '\0');
  AppendBCD(f, 32, 32);
  f += '\0';
  AppendBinLE(f, AImageNumber, 4, TField::PresetImage);
  f.append(4, '\0');
}

void TDevice::RefusePresetKey(int32_t APresetNumber, int32_t APresetKey) {
  throw std::runtime_error(TItemFrames::RefusalText(TItemFrames::TKind::PresetKey, APresetNumber, APresetKey, {}));
}

void TDevice::WritePresetKey(int32_t APresetNumber, int32_t APresetKey, int32_t AStatus, int32_t AImageNumber,
                             const std::string& AName) {
  BuildPresetKeyFrame(APresetNumber, APresetKey, AStatus, AImageNumber, AName);
  if (!SendFrame(scale::kAck)) RefusePresetKey(APresetNumber, APresetKey);
}

// ---- items ----

void TItemFrames::Start(const std::string& AName) {
  FCount = 0;
  FName.assign(AName);
}

void TItemFrames::Take(std::string& AFrame, TKind AKind, int32_t AKey1, int32_t AKey2) {
  if (FCount == FEntries.size()) FEntries.emplace_back();
  TEntry& e = FEntries[FCount++];
  e.Bytes.swap(AFrame);
  e.Kind = AKind;
  e.Key1 = AKey1;
  e.Key2 = AKey2;
}

std::string TItemFrames::RefusalText(TKind AKind, int32_t AKey1, int32_t AKey2, const std::string& AName) {
  const std::string k1 = std::to_string(AKey1), k2 = std::to_string(AKey2);
  switch (AKind) {
    case TKind::Plu: return "Ошибка записи в таблицу 25, Plu = " + k1 + "; Name = " + AName;
    case TKind::UnitWeight: return "Ошибка записи в таблицу AB, Plu = " + k1;
    case TKind::Container: return "Ошибка записи в таблицу DF, PLU = " + k1 + "; Code = " + k2 + " ";
    case TKind::PresetKey: return "Ошибка записи в таблицу 41, PresetNumber = " + k1 + "; PresetKey = " + k2;
    case TKind::Group: return "Ошибка записи в таблицу 23, Code = " + k1 + "; Code = " + AName;
    case TKind::GroupImage: return "Ошибка записи в таблицу A3";
    case TKind::Shop: return "Ошибка записи в таблицу 3D";
    case TKind::Image: return "Ошибка записи в таблицу 37";
  }
  return {};
}

std::string TItemFrames::RefusalMessage(size_t AIndex) const {
  const TEntry& e = FEntries[AIndex];
  return RefusalText(e.Kind, e.Key1, e.Key2, FName);
}

void TDevice::BuildGoodsFrames(const TGoodsItem& AItem, TItemFrames& AOut) {
  using K = TItemFrames::TKind;
  AOut.Start(AItem.Name);
  BuildPluFrame(AItem.PLU, AItem.GroupCode, AItem.SellByDate, AItem.SellByTime, AItem.UsedByDate, AItem.PackedDate,
                AItem.PackedTime, AItem.PLUTare, AItem.Barcode, AItem.Name, AItem.Ingredients, AItem.SpecMessage,
                AItem.Price, AItem.IsWeightGoods, AItem.Font);
  AOut.Take(FFrame, K::Plu, AItem.PLU, 0);
  if (AItem.HasUnitWeights()) {
    BuildPieceUnitWeightFrame(AItem.PLU, AItem.UnitWeight, AItem.TotalUnitWeight);
    AOut.Take(FFrame, K::UnitWeight, AItem.PLU, 0);
  }
  BuildContainerFrame(AItem.PLU, AItem.Code);
  AOut.Take(FFrame, K::Container, AItem.PLU, AItem.Code);
  CheckPresetNumbers(AItem.GroupCode, AItem.Code);
  const std::string& keyName = AItem.ShortName.empty() ? AItem.Name : AItem.ShortName;
  for (int32_t thousands : {AItem.GroupCode - 1, AItem.GroupCode + 89}) {
    int32_t number = thousands * 1000 + AItem.Code;  // in range: checked above
    BuildPresetKeyFrame(number, AItem.PLU, 0, 0, keyName);
    AOut.Take(FFrame, K::PresetKey, number, AItem.PLU);
  }
}

void TDevice::BuildGroupFrames(int32_t ACode, int32_t AImageNumber, const std::string& AName, TItemFrames& AOut) {
  using K = TItemFrames::TKind;
  AOut.Start(AName);
  StartKeyedTextRecord(scale::kTableMainGroup, ACode, TField::GroupCode, AName);
  AOut.Take(FFrame, K::Group, ACode, 0);
  BuildGroupImageFrame(ACode, AImageNumber);
  AOut.Take(FFrame, K::GroupImage, ACode, AImageNumber);
  BuildPresetKeyFrame(ACode, ACode, 32, AImageNumber, AName);
  AOut.Take(FFrame, K::PresetKey, ACode, ACode);
}

void TDevice::BuildShopFrames(int32_t ACode, const std::string& AName, TItemFrames& AOut) {
  AOut.Start(AName);
  BuildShopFrame(ACode, AName);
  AOut.Take(FFrame, TItemFrames::TKind::Shop, ACode, 0);
}

void TDevice::BuildImageFrames(int32_t AImageNumber, const std::string& AImageData, TItemFrames& AOut) {
  AOut.Start({});
  StartKeyedTextRecord(scale::kTableImage, AImageNumber, TField::ImageKey, AImageData);
  AOut.Take(FFrame, TItemFrames::TKind::Image, AImageNumber, 0);
}

void TDevice::SendFrames(const TItemFrames& AFrames, const std::function<void()>& AMeanwhile) {
  const size_t n = AFrames.Size();
  for (size_t i = 0; i < n; ++i) {
    FRequest.assign(AFrames.Frame(i));
    std::exception_ptr meanwhileError;
    if (i + 1 == n && AMeanwhile) {
      SendCommand(FRequest);
      try {
        AMeanwhile();
      } catch (...) {
        meanwhileError = std::current_exception();
      }
      ReceiveReply();
    } else {
      RunCommand(FRequest);
    }
    if (!Accepted(scale::kAck)) throw std::runtime_error(AFrames.RefusalMessage(i));
    if (meanwhileError) std::rethrow_exception(meanwhileError);
  }
}

void TDevice::Clear(uint8_t ATable, const char* AMessage) {
  StartFrame(scale::kCmdClear, ATable);
  if (!SendFrame(scale::kAck)) throw std::runtime_error(AMessage);
}

void TDevice::Delete(uint8_t ATable, int32_t AKey, const char* AMessage) {
  AppendBCD(StartFrame(scale::kCmdDelete, ATable), AKey, 4, TField::RecordKey);
  if (!SendFrame(scale::kDeleted)) throw std::runtime_error(AMessage);
}

void TDevice::ClearPlu() { Clear(scale::kTablePlu, "Ошибка удаления из таблицы 25"); }
void TDevice::ClearContainer() { Clear(scale::kTableContainer, "Ошибка удаления из таблицы DF"); }
void TDevice::ClearMainGroup() { Clear(scale::kTableMainGroup, "Ошибка удаления из таблицы 23"); }
void TDevice::ClearGroupImage() { Clear(scale::kTableGroupImage, "Ошибка удаления из таблицы A3"); }
void TDevice::ClearPresetKeys() { Clear(scale::kTablePresetKey, "Ошибка удаления из таблицы 41"); }
void TDevice::ClearImage() { Clear(scale::kTableImage, "Ошибка удаления из таблицы 37"); }
void TDevice::DeletePlu(int32_t ARecNumber) { Delete(scale::kTablePlu, ARecNumber, "Ошибка удаления из таблицы 25"); }
void TDevice::DeleteGroup(int32_t ARecNumber) {
  Delete(scale::kTableMainGroup, ARecNumber, "Ошибка удаления из таблицы 23");
}
void TDevice::DeleteContainer(int32_t ACode) {
  Delete(scale::kTableContainer, ACode, "Ошибка удаления из таблицы DF");
}

void TDevice::ReadMainGroup(int32_t ARecNumber) {
  AppendBCD(StartFrame(scale::kCmdRead, scale::kTableMainGroup), ARecNumber, 4, TField::RecordKey);
  FRequest.swap(FFrame);
  RunCommand(FRequest);
}

void TDevice::UploadData(const std::string& ARequest) {
  std::string command = HexToBytes(ARequest, TField::Data);
  RunCommand(command);
  if (command.size() < 2) return;
  // Writes and clears are judged like those of the typed operations; reads are not.
  const uint8_t code = static_cast<uint8_t>(command[0]);
  if (code != scale::kCmdWrite && code != scale::kCmdClear) return;
  if (Accepted(scale::kAck)) return;
  std::string message = code == scale::kCmdWrite ? "Ошибка записи в таблицу " : "Ошибка удаления из таблицы ";
  message += BytesToHex(command.substr(1, 1));
  if (command.size() > 2) message += ", ключ = " + BytesToHex(command.substr(2, 4));
  throw std::runtime_error(message);
}

}  // namespace qd
