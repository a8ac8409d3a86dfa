// The driver's model of one scale: builds one command per operation, runs the exchange
// (command out, one reply byte in) over its TCP transport and judges the reply. Bytes that
// arrive beyond the one answer of a command are read off and logged before the next command.
//
// Frame: command byte, table number, then nothing, a 4-byte packed-decimal key or a record.
// Commands: 0xF1 write (success 0x06), 0xF2 clear (0x06), 0xF3 delete (0xE2), 0xF7 read
// (not judged; the record the scale may send behind the answer is read off, see ReadData).
// A refused reply fails with a general error (std::runtime_error) carrying the operation's
// message; transport failures, a scale that closes the connection among them, and bytes that
// belong to no command are EquException 1001.
//
// An operation of the driver runs through RunOperation: a fresh connection, the commands, and
// then either the final look (FinishExchange) or, after a refusal, the look behind it
// (LookBehindRefusal). The typed operations below can also be run one by one on a connection
// made with Enable; nothing then looks behind a refusal unless the caller asks.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/Common.h"
#include "device/DeviceCommon.h"
#include "device/TCPSocket.h"

namespace qd {

// Command bytes and table numbers of the scale.
namespace scale {
constexpr uint8_t kCmdWrite = 0xF1;
constexpr uint8_t kCmdClear = 0xF2;
constexpr uint8_t kCmdDelete = 0xF3;
constexpr uint8_t kCmdRead = 0xF7;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kDeleted = 0xE2;
constexpr uint8_t kNak = 0x15;

constexpr uint8_t kTableMainGroup = 0x23;
constexpr uint8_t kTablePlu = 0x25;
constexpr uint8_t kTableImage = 0x37;
constexpr uint8_t kTableShop = 0x3D;
constexpr uint8_t kTablePresetKey = 0x41;
constexpr uint8_t kTableGroupImage = 0xA3;
constexpr uint8_t kTablePieceUnitWeight = 0xAB;
constexpr uint8_t kTableContainer = 0xDF;
}  // namespace scale

// The two preset keys of a goods item are numbered (AGroupCode - 1) * 1000 + ACode and
// (AGroupCode + 89) * 1000 + ACode, each 0 to 99999999. With the group code within 0..9999 and
// the goods code within 0..99999999 (the fields they also fill), a number out of range is
// refused naming the attribute that must change, its value and its limit.
void CheckPresetNumbers(int32_t AGroupCode, int32_t ACode);

// One goods item as the goods table gives it, every value already read; the device turns it
// into the frames of its records.
struct TGoodsItem {
  int32_t PLU = 0;
  int32_t Code = 0;       // goods code: key of the container record, part of the key numbers
  int32_t GroupCode = 0;  // main group
  int32_t SellByDate = 0;
  int32_t SellByTime = 0;
  int32_t UsedByDate = 0;
  int32_t PackedDate = 0;
  int32_t PackedTime = 0;
  int32_t PLUTare = 0;
  std::string Barcode;
  std::string Name;
  std::string ShortName;  // name on the preset keys; Name when empty
  std::string Ingredients;
  std::string SpecMessage;
  TAmount Price = 0;
  bool IsWeightGoods = true;
  TFont Font;  // fonts of the name's first four lines
  int32_t UnitWeight = 0;
  int32_t TotalUnitWeight = 0;

  bool HasUnitWeights() const { return UnitWeight != 0 || TotalUnitWeight != 0; }
};

// Every frame of one item (a goods item or a group), built before the first of them is sent,
// with what the messages of a refusal need. Storage is reused from item to item.
class TItemFrames {
 public:
  size_t Size() const { return FCount; }
  const std::string& Frame(size_t AIndex) const { return FEntries[AIndex].Bytes; }
  // The message of a refusal of frame AIndex.
  std::string RefusalMessage(size_t AIndex) const;

 private:
  friend class TDevice;
  enum class TKind : uint8_t { Plu, UnitWeight, Container, PresetKey, Group, GroupImage, Shop, Image };
  struct TEntry {
    std::string Bytes;
    TKind Kind = TKind::Plu;
    int32_t Key1 = 0;
    int32_t Key2 = 0;
  };
  // The message of a refused write of one record: one text per kind of frame, shared by the
  // single-record writes and the items.
  static std::string RefusalText(TKind AKind, int32_t AKey1, int32_t AKey2, const std::string& AName);
  void Start(const std::string& AName);
  // Swaps AFrame in as the next frame; AFrame gets the storage of an earlier one.
  void Take(std::string& AFrame, TKind AKind, int32_t AKey1, int32_t AKey2);

  std::vector<TEntry> FEntries;
  size_t FCount = 0;
  std::string FName;  // the goods' or the group's name, for the messages
};

// The start of the message of an exchange that has to stop: the scale sent more bytes than
// it had commands to answer.
inline constexpr const char* kMsgUnexpectedData = "Неожиданные данные от весов";

class TDevice {
 public:
  TDevice() = default;
  TDevice(const TDevice&) = delete;
  TDevice& operator=(const TDevice&) = delete;

  // Connects the transport; failures pass through unchanged. A new connection starts a new
  // exchange: no command sent, none answered.
  void Enable(const std::string& AIPAddress, int32_t AIPPort);
  void Disable();
  // One operation of the driver, the only way the driver talks to the scale: closes any old
  // connection, connects to AIPAddress:AIPPort, runs ACommands (which send the operation's
  // commands through the typed operations below, and may do other work between them), and
  // then ends the exchange: FinishExchange when ACommands returned, LookBehindRefusal when they
  // failed after the scale refused a command. Every failure passes to the caller; a surplus
  // found by either look takes the place of the failure it was found behind.
  void RunOperation(const std::string& AIPAddress, int32_t AIPPort, const std::function<void()>& ACommands);
  // Ends an exchange that went well. The scale answers every command with exactly one byte, so
  // once its last answer was read nothing more may come: this waits a short while for bytes
  // that should not be there (kFinalLookMinMs and twice the longest answer time of the
  // exchange, kFinalLookMaxMs at most) and fails, as any surplus does, when some arrive.
  void FinishExchange();

  static constexpr int kFinalLookMinMs = 20;
  static constexpr int kFinalLookMaxMs = 200;
  // After the scale refused a command nothing more is sent, so the call can afford to wait for
  // the scale's last word: the sending direction is ended (a scale that has nothing more to
  // say closes its side, which ends the wait at once), and bytes that arrive within the
  // receive time-out fail as surplus (the refusal may have been the late answer to an earlier
  // command, with the refused command's own answer behind it). Does nothing unless the answer
  // judged last was a refusal; done at most once per refusal.
  void LookBehindRefusal();
  // What a scale sends behind its answer to a read (0xF7): the record it read. It is taken when
  // it starts within the final look's wait and goes on with gaps of at most kReadGapMs, within
  // the receive time-out and up to kReadDataLimit bytes; anything beyond is surplus, seen with
  // the next answer or in the final look.
  static constexpr int kReadGapMs = 50;
  static constexpr size_t kReadDataLimit = 65535;
  const std::string& ReadData() const { return FReadData; }
  // Of bytes that should not be there, at most this many are read (without waiting), and the
  // first kSurplusKept of them are logged.
  static constexpr size_t kSurplusReadLimit = 4096;
  static constexpr size_t kSurplusKept = 32;
  // One exchange: fail when bytes came in behind the earlier answer (kMsgUnexpectedData), log,
  // send, read the one-byte answer into Response (kMsgPeerClosed when the scale has closed the
  // connection instead) together with whatever came behind it, log. Does not judge the reply.
  void RunCommand(const std::string& ACmd);

  // Returns the font record of a block whose lines all take the scale's default font (every
  // number -1). It changes nothing: the name is an established one (docs/conventions.md).
  static TFont SetDefFont() { return TFont{}; }

  // Goods (table 0x25), piece unit weights (0xAB), containers (0xDF).
  void WritePlu(int32_t APLU, int32_t AMainGroupNumber, int32_t ASellByDate, int32_t ASellByTime,
                int32_t AUsedByDate, int32_t APackedDate, int32_t APackedTime, int32_t APLUTare,
                const std::string& ABarcode, const std::string& AName, const std::string& AIngredients,
                const std::string& ASpecMessage, TAmount APrice, bool AIsWeightGoods, const TFont& ACommodityFont);
  void WritePieceUnitWeight(int32_t APLU, int32_t AUnitWeight, int32_t ATotalUnitWeight);
  void WriteContainer(int32_t APLU, int32_t ACode);

  // Main groups (0x23), group images (0xA3), images (0x37), shops (0x3D), preset keys (0x41).
  void WriteGroup(int32_t ACode, const std::string& AName);
  void WriteGroupImage(int32_t AMainGroupNumber, int32_t AImageNumber);
  void WriteImage(int32_t AImageNumber, const std::string& AImageData);
  void WriteShop(int32_t ACode, const std::string& AName);
  void WritePresetKey(int32_t APresetNumber, int32_t APresetKey, int32_t AStatus, int32_t AImageNumber,
                      const std::string& AName);

  // Every frame of a goods item: its PLU record, its piece unit weights when it has any, its
  // container record and its two preset keys, numbered (GroupCode - 1) * 1000 + Code and
  // (GroupCode + 89) * 1000 + Code. Every value is checked while the frames are built, so a
  // value that does not fit fails here, before anything of the item is sent.
  void BuildGoodsFrames(const TGoodsItem& AItem, TItemFrames& AOut);
  // Every frame of a group: the group record, its picture link and its key (status 32).
  void BuildGroupFrames(int32_t ACode, int32_t AImageNumber, const std::string& AName, TItemFrames& AOut);
  // The one frame of a shop and of an image, as WriteShop and WriteImage send them.
  void BuildShopFrames(int32_t ACode, const std::string& AName, TItemFrames& AOut);
  void BuildImageFrames(int32_t AImageNumber, const std::string& AImageData, TItemFrames& AOut);
  // Sends the frames in order, each judged as its own write; the first refusal fails with that
  // frame's message. AMeanwhile, when given, runs after the last frame went out and before its
  // answer is read, so that work which does not talk to the scale overlaps the scale's round
  // trip; that answer is judged first, and an error of AMeanwhile is raised only when the
  // answer was accepted.
  void SendFrames(const TItemFrames& AFrames, const std::function<void()>& AMeanwhile = {});

  void ClearPlu();
  void ClearContainer();
  void ClearMainGroup();
  void ClearGroupImage();
  void ClearPresetKeys();
  void ClearImage();
  void DeletePlu(int32_t ARecNumber);
  void DeleteGroup(int32_t ARecNumber);
  void DeleteContainer(int32_t ACode);
  // The reply byte stays in Response, unjudged; the record the scale sent behind it in ReadData.
  void ReadMainGroup(int32_t ARecNumber);
  // Sends the command that the hexadecimal text spells; Request is left as it was. A write
  // (0xF1) or clear (0xF2) answered with anything but 0x06 fails with a message naming the
  // table and the record's key; the answer to any other command is not judged.
  void UploadData(const std::string& ARequest);

  bool ExtLogEnabled() const { return FExtLogEnabled; }
  void SetExtLogEnabled(bool AValue) { FExtLogEnabled = AValue; }
  const std::string& Request() const { return FRequest; }
  const std::string& Response() const { return FResponse; }
  int32_t CommodityFont() const { return FCommodityFont; }
  void SetCommodityFont(int32_t AValue) { FCommodityFont = AValue; }
  int32_t IngredientFont() const { return FIngredientFont; }
  void SetIngredientFont(int32_t AValue) { FIngredientFont = AValue; }
  int32_t SpecMessageFont() const { return FSpecMessageFont; }
  void SetSpecMessageFont(int32_t AValue) { FSpecMessageFont = AValue; }
  int32_t CompanyFont() const { return FCompanyFont; }
  void SetCompanyFont(int32_t AValue) { FCompanyFont = AValue; }
  int32_t LabelFormatNumber() const { return FLabelFormatNumber; }
  void SetLabelFormatNumber(int32_t AValue) { FLabelFormatNumber = AValue; }

  const TPLURecord& PLURecord() const { return FPLURecord; }
  TTCPSocket& TCPSocket() { return FTCPSocket; }

  // The PLU command (0xF1 0x25 and the record) as WritePlu builds it, without sending it.
  std::string BuildPlu(int32_t APLU, int32_t AMainGroupNumber, int32_t ASellByDate, int32_t ASellByTime,
                       int32_t AUsedByDate, int32_t APackedDate, int32_t APackedTime, int32_t APLUTare,
                       const std::string& ABarcode, const std::string& AName, const std::string& AIngredients,
                       const std::string& ASpecMessage, TAmount APrice, bool AIsWeightGoods,
                       const TFont& ACommodityFont);

 private:
  // The frame in FFrame becomes the Request and is run; false when a reply came and is not
  // ASuccess. Messages are made by the callers, only for a refusal.
  bool SendFrame(uint8_t ASuccess);
  // FFrame := command and table bytes.
  std::string& StartFrame(uint8_t ACommand, uint8_t ATable);
  // Write frame of a key, the record size, a zero byte and a code page 866 text.
  void StartKeyedTextRecord(uint8_t ATable, int32_t AKey, TField AKeyField, const std::string& AText);
  // Fills FPLURecord and builds the PLU command in FFrame.
  void BuildPluFrame(int32_t APLU, int32_t AMainGroupNumber, int32_t ASellByDate, int32_t ASellByTime,
                     int32_t AUsedByDate, int32_t APackedDate, int32_t APackedTime, int32_t APLUTare,
                     const std::string& ABarcode, const std::string& AName, const std::string& AIngredients,
                     const std::string& ASpecMessage, TAmount APrice, bool AIsWeightGoods,
                     const TFont& ACommodityFont);
  [[noreturn]] void RefusePlu(int32_t APLU, const std::string& AName);
  void BuildPresetKeyFrame(int32_t APresetNumber, int32_t APresetKey, int32_t AStatus, int32_t AImageNumber,
                           const std::string& AName);
  void BuildPieceUnitWeightFrame(int32_t APLU, int32_t AUnitWeight, int32_t ATotalUnitWeight);
  void BuildContainerFrame(int32_t APLU, int32_t ACode);
  void BuildGroupImageFrame(int32_t AMainGroupNumber, int32_t AImageNumber);
  void BuildShopFrame(int32_t ACode, const std::string& AName);
  [[noreturn]] static void RefusePresetKey(int32_t APresetNumber, int32_t APresetKey);
  // The two halves of RunCommand: fail on leftovers, log and send; receive the answer into
  // Response (keeping what came behind it) and log.
  void SendCommand(const std::string& ACmd);
  void ReceiveReply();
  // Fails with kMsgUnexpectedData when bytes arrive within AMilliseconds; a close of the
  // connection there is no failure.
  void LookForSurplus(int AMilliseconds);
  // Fails with kMsgUnexpectedData when there are bytes that belong to no command: those that
  // came in with the last answer (FStray, FStrayCount) and whatever has arrived since, read off
  // without waiting. Otherwise tells whether the scale has closed the connection.
  bool ReadOffSurplus();
  [[noreturn]] void RaiseSurplus(const std::string& AKept, size_t ATotal);
  int FinalLookMs() const;
  // Whether the answer read last is ASuccess (no answer counts as one); a refusal is kept in
  // FRefusalPending for LookBehindRefusal.
  bool Accepted(uint8_t ASuccess);
  // After the answer to a read: the record behind it into FReadData.
  void ReceiveReadData();
  void Clear(uint8_t ATable, const char* AMessage);
  void Delete(uint8_t ATable, int32_t AKey, const char* AMessage);

  TTCPSocket FTCPSocket;
  std::string FRequest;
  std::string FFrame;  // the next command, built here so that its storage is reused
  std::string FResponse;
  std::string FStray;  // bytes that should not be there, kept for its storage
  size_t FStrayCount = 0;  // bytes that came in with the last answer, not yet reported
  // An answer is read with whatever has arrived behind it, this much at most.
  static constexpr size_t kAnswerRead = 512;
  std::string FReadData;  // what came behind the answer to the last read
  bool FRefusalPending = false;
  // The exchange on the current connection: the head (command, table, key) of the command sent
  // last, empty before the first, and the longest time an answer took.
  std::string FLastHead;
  int64_t FLongestAnswerUs = 0;
  bool FExtLogEnabled = false;
  TPLURecord FPLURecord;
  int32_t FCommodityFont = 0;
  int32_t FIngredientFont = 0;
  int32_t FCompanyFont = 0;
  int32_t FSpecMessageFont = 0;
  int32_t FLabelFormatNumber = 0;
  uint8_t FPLU_StatusByte1 = 0;
  uint8_t FPLU_StatusByte2 = 0;
  uint8_t FPLU_Status2Byte1 = 0;
  uint8_t FPLU_Status2Byte2 = 0;
  uint8_t FPLU_Status2Byte3 = 0;
};

}  // namespace qd
