// Command exchange with the scale and the records of its tables.
#include "device/Device.h"

#include <stdexcept>

#include "common/log.h"

namespace qd {

namespace {

std::string Frame(uint8_t ACommand, uint8_t ATable) {
  std::string f(2, '\0');
  f[0] = static_cast<char>(ACommand);
  f[1] = static_cast<char>(ATable);
  return f;
}

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

size_t CharCount(const std::string& AText) {
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
  if (!valid) throw std::runtime_error("'" + text + "' is not a valid integer value");
  int64_t v = std::stoll(text.substr(i));
  return text[0] == '-' ? -v : v;
}

}  // namespace

void TDevice::Enable(const std::string& AIPAddress, int32_t AIPPort) {
  FTCPSocket.SetIPAddress(AIPAddress);
  FTCPSocket.SetIPPort(AIPPort);
  FTCPSocket.SetConnection();
}

void TDevice::Disable() { FTCPSocket.CloseConnection(); }

void TDevice::RunCommand(const std::string& ACmd) {
  if (FExtLogEnabled) WriteLog("Данные обмена -> ", BytesToHex(ACmd), kLogDebug);
  FTCPSocket.WriteStr(ACmd);
  FResponse.clear();
  FTCPSocket.ReadString(1, FResponse);
  if (FExtLogEnabled) WriteLog("Данные обмена <- ", BytesToHex(FResponse), kLogDebug);
}

void TDevice::Exchange(std::string ARequest, uint8_t ASuccess, const std::string& AMessage) {
  FRequest = std::move(ARequest);
  RunCommand(FRequest);
  if (!FResponse.empty() && static_cast<uint8_t>(FResponse[0]) != ASuccess) throw std::runtime_error(AMessage);
}

std::string TDevice::BuildPlu(int32_t APLU, int32_t AMainGroupNumber, int32_t ASellByDate, int32_t ASellByTime,
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

  TPLURecord& r = FPLURecord;
  r.PLU_Number = IntToBCD(APLU, 4, "PLU_Number");
  r.PLU_Status = {static_cast<char>(FPLU_StatusByte1), static_cast<char>(FPLU_StatusByte2)};
  r.PLU_Status2 = {static_cast<char>(FPLU_Status2Byte1), static_cast<char>(FPLU_Status2Byte2),
                   static_cast<char>(FPLU_Status2Byte3)};
  r.Unit_Price = IntToBCD(ToHundredths(APrice), 4, "Unit_Price");
  r.Label_Format1 = IntToBinLE(FLabelFormatNumber, 1, "Label_Format1");
  r.Barcode_Format = std::string(1, '\x05');
  r.EAN_Data = IntToBCD(barcode, 7, "EAN_Data");
  r.Main_Group_Code = IntToBCD(AMainGroupNumber, 2, "Main_Group_Code");
  r.Sell_By_Date = IntToBCD(ASellByDate, 2, "Sell_By_Date");
  r.Sell_By_Time = IntToBCD(ASellByTime, 2, "Sell_By_Time");
  r.Used_By_Date = IntToBCD(AUsedByDate, 2, "Used_By_Date");
  r.Packed_Date = IntToBCD(APackedDate, 2, "Packed_Date");
  r.Packed_Time = IntToBCD(APackedTime, 2, "Packed_Time");
  r.PLU_Tare = tare ? IntToBCD(APLUTare, 2, "PLU_Tare") : std::string();
  r.Image1 = IntToBCD(0, 1);
  r.Image2_10 = IntToBCD(0, 9);
  r.Commodity = EncodeTextBlock(AName, 4, FCommodityFont, ACommodityFont, "Commodity");
  r.Ingredient = EncodeTextBlock(AIngredients, 15, FIngredientFont, SetDefFont(), "Ingredient");
  r.SpecMessage = EncodeTextBlock(ASpecMessage, 8, FSpecMessageFont, SetDefFont(), "SpecMessage");
  r.BCC = std::string(1, '\0');
  int64_t size = TPLURecord::kFixedSize + (tare ? 2 : 0) + static_cast<int64_t>(r.Commodity.size()) +
                 static_cast<int64_t>(r.Ingredient.size()) + static_cast<int64_t>(r.SpecMessage.size());
  r.PLU_RecordSize = IntToBinBE(size, 2, "PLU_RecordSize");
  return Frame(scale::kCmdWrite, scale::kTablePlu) + r.Bytes();
}

void TDevice::WritePlu(int32_t APLU, int32_t AMainGroupNumber, int32_t ASellByDate, int32_t ASellByTime,
                       int32_t AUsedByDate, int32_t APackedDate, int32_t APackedTime, int32_t APLUTare,
                       const std::string& ABarcode, const std::string& AName, const std::string& AIngredients,
                       const std::string& ASpecMessage, TAmount APrice, bool AIsWeightGoods,
                       const TFont& ACommodityFont) {
  std::string cmd = BuildPlu(APLU, AMainGroupNumber, ASellByDate, ASellByTime, AUsedByDate, APackedDate, APackedTime,
                             APLUTare, ABarcode, AName, AIngredients, ASpecMessage, APrice, AIsWeightGoods,
                             ACommodityFont);
  Exchange(std::move(cmd), scale::kAck,
           "Ошибка записи в таблицу 25, Plu = " + std::to_string(APLU) + "; Name = " + AName);
}

void TDevice::WritePieceUnitWeight(int32_t APLU, int32_t AUnitWeight, int32_t ATotalUnitWeight) {
  std::string cmd = Frame(scale::kCmdWrite, scale::kTablePieceUnitWeight) + IntToBCD(APLU, 4, "PLU") +
                    IntToBinBE(22, 2) + IntToBCD(AUnitWeight, 4, "вес единицы товара") +
                    IntToBCD(ATotalUnitWeight, 4, "общий вес единиц товара") + IntToBCD(0, 8);
  Exchange(std::move(cmd), scale::kAck, "Ошибка записи в таблицу AB, Plu = " + std::to_string(APLU));
}

void TDevice::WriteContainer(int32_t APLU, int32_t ACode) {
  std::string cmd = Frame(scale::kCmdWrite, scale::kTableContainer) + IntToBCD(ACode, 4, "код товара") +
                    IntToBinBE(10, 2) + IntToBCD(APLU, 4, "PLU");
  Exchange(std::move(cmd), scale::kAck,
           "Ошибка записи в таблицу DF, PLU = " + std::to_string(APLU) + "; Code = " + std::to_string(ACode) + " ");
}

void TDevice::WriteGroup(int32_t ACode, const std::string& AName) {
  std::string name = EncodeCP866(AName);
  std::string cmd = Frame(scale::kCmdWrite, scale::kTableMainGroup) + IntToBCD(ACode, 4, "код группы") +
                    IntToBinBE(7 + static_cast<int64_t>(name.size()), 2, "размер записи") + std::string(1, '\0') +
                    name;
  Exchange(std::move(cmd), scale::kAck,
           "Ошибка записи в таблицу 23, Code = " + std::to_string(ACode) + "; Code = " + AName);
}

void TDevice::WriteGroupImage(int32_t AMainGroupNumber, int32_t AImageNumber) {
  std::string cmd = Frame(scale::kCmdWrite, scale::kTableGroupImage) + IntToBCD(AMainGroupNumber, 4, "код группы") +
                    IntToBinBE(8, 2) + IntToBCD(AImageNumber, 2, "номер изображения");
  Exchange(std::move(cmd), scale::kAck, "Ошибка записи в таблицу A3");
}

void TDevice::WriteImage(int32_t AImageNumber, const std::string& AImageData) {
  std::string data = EncodeCP866(AImageData);
  std::string cmd = Frame(scale::kCmdWrite, scale::kTableImage) + IntToBCD(AImageNumber, 4, "номер изображения") +
                    IntToBinBE(7 + static_cast<int64_t>(data.size()), 2, "размер записи") + std::string(1, '\0') +
                    data;
  Exchange(std::move(cmd), scale::kAck, "Ошибка записи в таблицу 37");
}

void TDevice::WriteShop(int32_t ACode, const std::string& AName) {
  std::string block = EncodeTextBlock(AName, 3, FCompanyFont, SetDefFont(), "название магазина");
  std::string cmd = Frame(scale::kCmdWrite, scale::kTableShop) + IntToBCD(ACode, 4, "код магазина") +
                    IntToBinBE(8 + static_cast<int64_t>(block.size()), 2, "размер записи") +
                    IntToBinBE(FLabelFormatNumber, 2, "номер формата этикетки") + block;
  Exchange(std::move(cmd), scale::kAck, "Ошибка записи в таблицу 3D");
}

void TDevice::WritePresetKey(int32_t APresetNumber, int32_t APresetKey, int32_t AStatus, int32_t AImageNumber,
                             const std::string& AName) {
  std::string name = AName.substr(0, PrefixBytes(AName, 32));
  name.append(32 - CharCount(name), ' ');
  std::string nameBytes = EncodeCP866(name);
  nameBytes.resize(32, ' ');  // one byte per character; kept exact whatever the conversion did
  std::string cmd = Frame(scale::kCmdWrite, scale::kTablePresetKey) + IntToBCD(APresetNumber, 4, "номер клавиши") +
                    IntToBinBE(89, 2) + IntToBCD(APresetKey, 4, "код клавиши") +
                    IntToBinBE(AStatus, 1, "статус клавиши") + std::string(1, '\0') + nameBytes + IntToBCD(0, 4) +
                    IntToBCD(32, 32) + IntToBCD(0, 1) + IntToBinLE(AImageNumber, 4, "номер изображения") +
                    IntToBCD(0, 4);
  Exchange(std::move(cmd), scale::kAck,
           "Ошибка записи в таблицу 41, PresetNumber = " + std::to_string(APresetNumber) +
               "; PresetKey = " + std::to_string(APresetKey));
}

void TDevice::Clear(uint8_t ATable, const char* AMessage) {
  Exchange(Frame(scale::kCmdClear, ATable), scale::kAck, AMessage);
}

void TDevice::Delete(uint8_t ATable, int32_t AKey, const char* AMessage) {
  Exchange(Frame(scale::kCmdDelete, ATable) + IntToBCD(AKey, 4, "ключ записи"), scale::kDeleted, AMessage);
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
  FRequest = Frame(scale::kCmdRead, scale::kTableMainGroup) + IntToBCD(ARecNumber, 4, "ключ записи");
  RunCommand(FRequest);
}

void TDevice::UploadData(const std::string& ARequest) { RunCommand(HexToBytes(ARequest, "данные")); }

}  // namespace qd
