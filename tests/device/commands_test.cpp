// The device's commands and records, byte for byte, against a scripted scale on loopback.
#include <gtest/gtest.h>

#include "support/testenv.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "common/errors.h"
#include "common/log.h"
#include "device/Device.h"
#include "hex.h"
#include "scripted_server.h"

using namespace qd;
using qdtest::Repeat;
using qdtest::Spaced;
using qdtest::TReply;

namespace {

constexpr TAmount kPrice1250 = 125000;  // 12.50

const std::string kPluMilk =
    "F1 25 00 00 00 01 00 38 74 00 1D E0 5F 00 00 12 50 11 05 22 00 00 10 00 00 01 00 02 00 05 "
    "00 00 00 00 00 00 00 00 00 " + Repeat("00", 9) + " 06 04 4D 69 6C 6B 0C 0C 0C 00";
const std::string kPluMilkPieceTare =
    "F1 25 00 00 00 01 00 3A 75 00 5D E0 5F 00 00 12 50 11 05 22 00 00 10 00 00 02 00 02 00 05 "
    "00 00 00 00 00 00 00 00 01 50 00 " + Repeat("00", 9) + " 06 04 4D 69 6C 6B 0C 0C 0C 00";
const std::string kPresetMoloko = "F1 41 00 00 00 02 00 59 00 00 00 02 20 00 8C AE AB AE AA AE " + Repeat("20", 26) +
                                  " 00 00 00 00 " + Repeat("00", 31) + " 32 00 05 00 00 00 00 00 00 00";

class Device : public ::testing::Test {
 protected:
  void SetUp() override {
    FDevice.SetCommodityFont(6);
    FDevice.SetIngredientFont(1);
    FDevice.SetSpecMessageFont(1);
    FDevice.SetCompanyFont(0);
    FDevice.SetLabelFormatNumber(17);
    FDevice.Enable("127.0.0.1", FServer.Port());
  }
  void TearDown() override { FDevice.Disable(); }

  // The worked example of the goods record: PLU 1, group 2, 5 days, "Milk", 12.50.
  void WriteMilk(bool AWeighed = true, int32_t ATare = 0) {
    FDevice.WritePlu(1, 2, 5, 0, 0, 0, 0, ATare, "2200001", "Milk", "", "", kPrice1250, AWeighed, TFont{});
  }
  std::string LastFrame() {
    auto frames = FServer.Frames();
    return frames.empty() ? "(nothing)" : Spaced(frames.back());
  }

  qdtest::TScriptedServer FServer;
  TDevice FDevice;
};

std::string GeneralError(const std::function<void()>& AAction) { return qd::test::FailureOf(AAction); }

struct TExample {
  const char* Name;
  std::function<void(TDevice&)> Call;
  std::string Frame;
  uint8_t Success;
  std::string Refusal;  // message when the scale answers anything else
};

std::vector<TExample> Examples() {
  return {
      {"WritePlu weighed",
       [](TDevice& d) { d.WritePlu(1, 2, 5, 0, 0, 0, 0, 0, "2200001", "Milk", "", "", kPrice1250, true, TFont{}); },
       kPluMilk, 0x06, "Ошибка записи в таблицу 25, Plu = 1; Name = Milk"},
      {"WritePlu piece with tare",
       [](TDevice& d) { d.WritePlu(1, 2, 5, 0, 0, 0, 0, 150, "2200001", "Milk", "", "", kPrice1250, false, TFont{}); },
       kPluMilkPieceTare, 0x06, "Ошибка записи в таблицу 25, Plu = 1; Name = Milk"},
      {"WritePieceUnitWeight", [](TDevice& d) { d.WritePieceUnitWeight(1, 250, 1000); },
       "F1 AB 00 00 00 01 00 16 00 00 02 50 00 00 10 00 " + Repeat("00", 8), 0x06,
       "Ошибка записи в таблицу AB, Plu = 1"},
      {"WriteContainer 1", [](TDevice& d) { d.WriteContainer(1, 1001); }, "F1 DF 00 00 10 01 00 0A 00 00 00 01", 0x06,
       "Ошибка записи в таблицу DF, PLU = 1; Code = 1001 "},
      {"WriteContainer 5", [](TDevice& d) { d.WriteContainer(5, 1001); }, "F1 DF 00 00 10 01 00 0A 00 00 00 05", 0x06,
       "Ошибка записи в таблицу DF, PLU = 5; Code = 1001 "},
      {"WriteGroup", [](TDevice& d) { d.WriteGroup(2, "Молоко"); }, "F1 23 00 00 00 02 00 0D 00 8C AE AB AE AA AE",
       0x06, "Ошибка записи в таблицу 23, Code = 2; Code = Молоко"},
      {"WriteGroupImage", [](TDevice& d) { d.WriteGroupImage(2, 5); }, "F1 A3 00 00 00 02 00 08 00 05", 0x06,
       "Ошибка записи в таблицу A3"},
      {"WriteImage", [](TDevice& d) { d.WriteImage(3, "AB"); }, "F1 37 00 00 00 03 00 09 00 41 42", 0x06,
       "Ошибка записи в таблицу 37"},
      {"WriteShop", [](TDevice& d) { d.WriteShop(1, "Shop A"); },
       "F1 3D 00 00 00 01 00 11 00 11 00 06 53 68 6F 70 20 41 0C", 0x06, "Ошибка записи в таблицу 3D"},
      {"WritePresetKey", [](TDevice& d) { d.WritePresetKey(2, 2, 32, 5, "Молоко"); }, kPresetMoloko, 0x06,
       "Ошибка записи в таблицу 41, PresetNumber = 2; PresetKey = 2"},
      {"ClearPlu", [](TDevice& d) { d.ClearPlu(); }, "F2 25", 0x06, "Ошибка удаления из таблицы 25"},
      {"ClearContainer", [](TDevice& d) { d.ClearContainer(); }, "F2 DF", 0x06, "Ошибка удаления из таблицы DF"},
      {"ClearMainGroup", [](TDevice& d) { d.ClearMainGroup(); }, "F2 23", 0x06, "Ошибка удаления из таблицы 23"},
      {"ClearGroupImage", [](TDevice& d) { d.ClearGroupImage(); }, "F2 A3", 0x06, "Ошибка удаления из таблицы A3"},
      {"ClearPresetKeys", [](TDevice& d) { d.ClearPresetKeys(); }, "F2 41", 0x06, "Ошибка удаления из таблицы 41"},
      {"ClearImage", [](TDevice& d) { d.ClearImage(); }, "F2 37", 0x06, "Ошибка удаления из таблицы 37"},
      {"DeletePlu", [](TDevice& d) { d.DeletePlu(12); }, "F3 25 00 00 00 12", 0xE2, "Ошибка удаления из таблицы 25"},
      {"DeletePlu 0", [](TDevice& d) { d.DeletePlu(0); }, "F3 25 00 00 00 00", 0xE2, "Ошибка удаления из таблицы 25"},
      {"DeleteGroup", [](TDevice& d) { d.DeleteGroup(7); }, "F3 23 00 00 00 07", 0xE2, "Ошибка удаления из таблицы 23"},
      {"DeleteContainer", [](TDevice& d) { d.DeleteContainer(1001); }, "F3 DF 00 00 10 01", 0xE2,
       "Ошибка удаления из таблицы DF"},
  };
}

TEST_F(Device, WorkedExamplesSendTheseFramesAndAcceptTheirSuccessByte) {
  for (const auto& ex : Examples()) {
    FServer.Script({TReply::Byte(ex.Success)});
    EXPECT_EQ(GeneralError([&] { ex.Call(FDevice); }), "(no error)") << ex.Name;
    EXPECT_EQ(LastFrame(), ex.Frame) << ex.Name;
    EXPECT_EQ(Spaced(FDevice.Request()), ex.Frame) << ex.Name;
    EXPECT_EQ(FDevice.Response(), std::string(1, static_cast<char>(ex.Success))) << ex.Name;
  }
  EXPECT_EQ(FServer.Connections(), 1);
}

TEST_F(Device, AnyOtherReplyFailsWithTheTablesMessageAndTheConnectionStaysUsable) {
  for (const auto& ex : Examples()) {
    // Writes and clears want 0x06, deletes 0xE2: the other one of the two is a refusal too.
    for (uint8_t reply : {uint8_t{0x15}, static_cast<uint8_t>(ex.Success == 0x06 ? 0xE2 : 0x06)}) {
      FServer.Script({TReply::Byte(reply)});
      EXPECT_EQ(GeneralError([&] { ex.Call(FDevice); }), ex.Refusal) << ex.Name;
    }
  }
  FServer.Script({TReply::Byte(0x06)});
  EXPECT_EQ(GeneralError([&] { FDevice.ClearPlu(); }), "(no error)");
}

TEST_F(Device, RawWritesAndClearsAreJudgedReadsAreNot) {
  const struct {
    const char* Request;
    uint8_t Reply;
    std::string Error;
  } cases[] = {
      {"F1DF00001001000A00000005", 0x06, "(no error)"},
      {"F1DF00001001000A00000005", 0x15, "Ошибка записи в таблицу DF, ключ = 00001001"},
      {"f1df00001001000a000000051", 0xE2, "Ошибка записи в таблицу DF, ключ = 00001001"},
      {"F20100000001000A11223344", 0x15, "Ошибка удаления из таблицы 01, ключ = 00000001"},
      {"F225", 0x15, "Ошибка удаления из таблицы 25"},
      {"F72300000002", 0x15, "(no error)"},
      {"F72300000002", 0x00, "(no error)"},
  };
  FServer.Script({TReply::Byte(0x06)});
  FDevice.ClearPlu();
  for (const auto& c : cases) {
    FServer.Script({TReply::Byte(c.Reply)});
    EXPECT_EQ(GeneralError([&] { FDevice.UploadData(c.Request); }), c.Error) << c.Request;
    EXPECT_EQ(FDevice.Response(), std::string(1, static_cast<char>(c.Reply))) << c.Request;
  }
  EXPECT_EQ(LastFrame(), "F7 23 00 00 00 02");
  EXPECT_EQ(Spaced(FDevice.Request()), "F2 25");  // the raw command does not become the Request
}

TEST_F(Device, RecordsThatWouldCorruptTheScaleAreRefusedBeforeSending) {
  const struct {
    const char* Name;
    std::function<void(TDevice&)> Call;
    std::string Message;
  } cases[] = {
      {"barcode", [](TDevice& d) { d.WritePlu(1, 2, 5, 0, 0, 0, 0, 0, "22A0001", "Milk", "", "", 0, true, TFont{}); },
       "'22A00010000001' is not a valid integer value"},
      {"plu", [](TDevice& d) { d.WritePlu(-1, 2, 5, 0, 0, 0, 0, 0, "2200001", "Milk", "", "", 0, true, TFont{}); },
       "Недопустимое значение поля \"PLU_Number\": -1 (значение не может быть отрицательным)"},
      {"price",
       [](TDevice& d) { d.WritePlu(1, 2, 5, 0, 0, 0, 0, 0, "2200001", "M", "", "", 1000000000000, true, TFont{}); },
       "Недопустимое значение поля \"Unit_Price\": 10000000000 (не более 8 десятичных цифр)"},
      {"group code",
       [](TDevice& d) { d.WritePlu(1, 12345, 5, 0, 0, 0, 0, 0, "2200001", "M", "", "", 0, true, TFont{}); },
       "Недопустимое значение поля \"Main_Group_Code\": 12345 (не более 4 десятичных цифр)"},
      {"tare", [](TDevice& d) { d.WritePlu(1, 2, 5, 0, 0, 0, 0, -150, "2200001", "M", "", "", 0, true, TFont{}); },
       "Недопустимое значение поля \"PLU_Tare\": -150 (значение не может быть отрицательным)"},
      {"name line",
       [](TDevice& d) {
         d.WritePlu(1, 2, 5, 0, 0, 0, 0, 0, "2200001", std::string(256, 'n'), "", "", 0, true, TFont{});
       },
       "Недопустимое значение поля \"Commodity\": строка 1 длиной 256 байт (не более 255)"},
      {"font",
       [](TDevice& d) {
         d.SetSpecMessageFont(10);
         d.WritePlu(1, 2, 5, 0, 0, 0, 0, 0, "2200001", "M", "", "Note", 0, true, TFont{});
       },
       "Некорректный номер шрифта"},
      {"group record size", [](TDevice& d) { d.WriteGroup(1, std::string(65529, 'g')); },
       "Недопустимое значение поля \"размер записи\": 65536 (не более 65535)"},
      {"preset status", [](TDevice& d) { d.WritePresetKey(1, 1, 256, 0, "x"); },
       "Недопустимое значение поля \"статус клавиши\": 256 (не более 255)"},
      {"container code", [](TDevice& d) { d.WriteContainer(1, 100000000); },
       "Недопустимое значение поля \"код товара\": 100000000 (не более 8 десятичных цифр)"},
      {"delete key", [](TDevice& d) { d.DeleteGroup(-3); },
       "Недопустимое значение поля \"ключ записи\": -3 (значение не может быть отрицательным)"},
      {"raw hex", [](TDevice& d) { d.UploadData("F1DFXX"); },
       "Недопустимое значение поля \"данные\": \"XX\" в позиции 5 не является шестнадцатеричным числом"},
  };
  for (const auto& c : cases) EXPECT_EQ(GeneralError([&] { c.Call(FDevice); }), c.Message) << c.Name;
  FDevice.ClearPlu();
  ASSERT_EQ(FServer.Frames().size(), 1u);
  EXPECT_EQ(LastFrame(), "F2 25");
}

// ---- all frames of an item ----

TEST_F(Device, GoodsItemBuildsAllItsFramesAndSendsThemInOrder) {
  TGoodsItem milk;
  milk.PLU = 1;
  milk.Code = 1001;
  milk.GroupCode = 2;
  milk.SellByDate = 5;
  milk.Barcode = "2200001";
  milk.Name = "Milk";
  milk.ShortName = "M";
  milk.Price = kPrice1250;
  milk.UnitWeight = 250;
  milk.TotalUnitWeight = 1000;
  TItemFrames frames;
  FDevice.BuildGoodsFrames(milk, frames);
  const std::string key = "00 59 00 00 00 01 00 00 4D " + Repeat("20", 31) + " 00 00 00 00 " + Repeat("00", 31) +
                          " 32 00 00 00 00 00 00 00 00 00";
  const std::vector<std::string> expected = {
      kPluMilk,
      "F1 AB 00 00 00 01 00 16 00 00 02 50 00 00 10 00 " + Repeat("00", 8),
      "F1 DF 00 00 10 01 00 0A 00 00 00 01",
      "F1 41 00 00 20 01 " + key,
      "F1 41 00 09 20 01 " + key,
  };
  ASSERT_EQ(frames.Size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(Spaced(frames.Frame(i)), expected[i]) << i;
  FDevice.SendFrames(frames);
  std::vector<std::string> sent;
  for (const std::string& f : FServer.Frames()) sent.push_back(Spaced(f));
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(Spaced(FDevice.Request()), expected.back());
}

TEST_F(Device, GroupBuildsItsRecordPictureLinkAndKey) {
  TItemFrames frames;
  FDevice.BuildGroupFrames(7, 3, "Fish", frames);
  ASSERT_EQ(frames.Size(), 3u);
  EXPECT_EQ(Spaced(frames.Frame(0)), "F1 23 00 00 00 07 00 0B 00 46 69 73 68");
  EXPECT_EQ(Spaced(frames.Frame(1)), "F1 A3 00 00 00 07 00 08 00 03");
  EXPECT_EQ(Spaced(frames.Frame(2)), "F1 41 00 00 00 07 00 59 00 00 00 07 20 00 46 69 73 68 " + Repeat("20", 28) +
                                         " 00 00 00 00 " + Repeat("00", 31) + " 32 00 03 00 00 00 00 00 00 00");
}

// A value that fits none of an item's frames is refused while the frames are built, even when
// only the last frame holds it; the frames of a refused item are never sent.
TEST_F(Device, ItemsAreCheckedWholeBeforeAnythingIsSent) {
  TGoodsItem g;
  g.PLU = 1;
  g.Code = 5;
  g.GroupCode = 1;
  g.Barcode = "2200001";
  const struct {
    const char* Name;
    std::function<void(TGoodsItem&)> Change;
    std::string Message;
  } cases[] = {
      {"unit weight", [](TGoodsItem& i) { i.TotalUnitWeight = -1; },
       "Недопустимое значение поля \"общий вес единиц товара\": -1 (значение не может быть отрицательным)"},
      {"goods code", [](TGoodsItem& i) { i.Code = -5; },
       "Недопустимое значение поля \"код товара\": -5 (значение не может быть отрицательным)"},
      {"group code 0", [](TGoodsItem& i) { i.GroupCode = 0; },
       "Недопустимое значение поля \"GroupCode\": 0 (не менее 1 при Code = 5)"},
      {"group code 0, code 1000", [](TGoodsItem& i) { i.GroupCode = 0, i.Code = 1000; }, "(no error)"},
      {"code too large", [](TGoodsItem& i) { i.GroupCode = 9999, i.Code = 89912000; },
       "Недопустимое значение поля \"Code\": 89912000 (не более 89911999 при GroupCode = 9999)"},
      {"largest code", [](TGoodsItem& i) { i.GroupCode = 9999, i.Code = 89911999; }, "(no error)"},
  };
  TItemFrames frames;
  for (const auto& c : cases) {
    TGoodsItem item = g;
    c.Change(item);
    EXPECT_EQ(GeneralError([&] { FDevice.BuildGoodsFrames(item, frames); }), c.Message) << c.Name;
  }
  EXPECT_EQ(GeneralError([&] { FDevice.BuildGroupFrames(7, 12345, "x", frames); }),
            "Недопустимое значение поля \"номер изображения\": 12345 (не более 4 десятичных цифр)");
  EXPECT_TRUE(FServer.Frames().empty());
}

TEST_F(Device, FirstRefusedFrameOfAnItemEndsItWithThatFramesMessage) {
  TItemFrames frames;
  FDevice.BuildGroupFrames(7, 3, "Fish", frames);
  const std::pair<std::vector<TReply>, std::string> cases[] = {
      {{TReply::Byte(0x15)}, "Ошибка записи в таблицу 23, Code = 7; Code = Fish"},
      {{TReply::Byte(0x06), TReply::Byte(0x15)}, "Ошибка записи в таблицу A3"},
      {{TReply::Byte(0x06), TReply::Byte(0x06), TReply::Byte(0xE2)},
       "Ошибка записи в таблицу 41, PresetNumber = 7; PresetKey = 7"},
  };
  for (const auto& [replies, message] : cases) {
    FServer.ClearFrames();
    FServer.Script(replies);
    EXPECT_EQ(GeneralError([&] { FDevice.SendFrames(frames); }), message);
    EXPECT_EQ(FServer.Frames().size(), replies.size()) << message;  // nothing after the refusal
  }
}

TEST_F(Device, PluRecordEdgeCases) {
  auto build = [&](int32_t ATare, const std::string& ABarcode, const std::string& AName, const std::string& AIngr,
                   const std::string& AMsg, TAmount APrice, bool AWeighed, TFont AFont = {}) {
    return FDevice.BuildPlu(1, 2, 5, 0, 0, 0, 0, ATare, ABarcode, AName, AIngr, AMsg, APrice, AWeighed, AFont);
  };
  // A barcode data text of 13 characters uses only its first 7.
  build(0, "2200001999999", "Milk", "", "", kPrice1250, true);
  EXPECT_EQ(Spaced(FDevice.PLURecord().EAN_Data), "22 00 00 10 00 00 01");
  // Prices in hundredths, ties to the even neighbour.
  const std::pair<TAmount, const char*> prices[] = {
      {0, "00 00 00 00"}, {1250, "00 00 00 12"}, {1350, "00 00 00 14"}, {1251, "00 00 00 13"}, {125000, "00 00 12 50"}};
  for (const auto& [price, hex] : prices) {
    build(0, "2200001", "Milk", "", "", price, true);
    EXPECT_EQ(Spaced(FDevice.PLURecord().Unit_Price), hex) << price;
  }
  // Line limits: name 4, ingredients 15, special message 8; fonts of their own only for the name.
  auto lines = [](int n) {
    std::string t;
    for (int i = 1; i <= n; ++i) t += (i > 1 ? "||" : "") + std::string(1, static_cast<char>('a' + i - 1));
    return t;
  };
  std::string frame = build(0, "2200001", lines(5), lines(16), lines(9), 0, true, TFont{2, 12, -1, 3});
  const TPLURecord& r = FDevice.PLURecord();
  EXPECT_EQ(Spaced(r.Commodity), "02 01 61 0D 06 01 62 0D 06 01 63 0D 03 01 64 0C");
  EXPECT_EQ(r.Ingredient.size(), 15u * 4);
  EXPECT_EQ(r.Ingredient.substr(r.Ingredient.size() - 4), "\x01\x01o\x0C");
  EXPECT_EQ(r.SpecMessage.size(), 8u * 4);
  EXPECT_EQ(r.SpecMessage.substr(0, 4), "\x01\x01" "a\x0D");
  EXPECT_EQ(frame.size(), 2u + 47 + 16 + 60 + 32);
  EXPECT_EQ(Spaced(r.PLU_RecordSize), "00 9B");  // 155 bytes behind the command
  // Status bits are rebuilt on every call: nothing carries over from piece goods with tare.
  build(150, "2200001", "Milk", "", "", 0, false);
  build(0, "2200001", "Milk", "", "", 0, true);
  EXPECT_EQ(Spaced(FDevice.PLURecord().PLU_Status + FDevice.PLURecord().PLU_Status2), "74 00 1D E0 5F");
  EXPECT_TRUE(FDevice.PLURecord().PLU_Tare.empty());
}

TEST_F(Device, OtherRecordEdgeCases) {
  const struct {
    const char* Name;
    std::function<void(TDevice&)> Call;
    std::string Frame;
  } cases[] = {
      {"group without name", [](TDevice& d) { d.WriteGroup(7, ""); }, "F1 23 00 00 00 07 00 07 00"},
      {"shop without name", [](TDevice& d) { d.WriteShop(1, ""); }, "F1 3D 00 00 00 01 00 09 00 11 0C"},
      {"shop of four lines", [](TDevice& d) { d.WriteShop(1, "A||B||C||D"); },
       "F1 3D 00 00 00 01 00 14 00 11 00 01 41 0D 00 01 42 0D 00 01 43 0C"},
      {"preset name of 40", [](TDevice& d) { d.WritePresetKey(1, 9, 0, 0, std::string(32, 'N') + "XXXXXXXX"); },
       "F1 41 00 00 00 01 00 59 00 00 00 09 00 00 " + Repeat("4E", 32) + " 00 00 00 00 " + Repeat("00", 31) +
           " 32 00 00 00 00 00 00 00 00 00"},
      {"preset name of 3", [](TDevice& d) { d.WritePresetKey(1, 9, 0, 258, "Сыр"); },
       "F1 41 00 00 00 01 00 59 00 00 00 09 00 00 91 EB E0 " + Repeat("20", 29) + " 00 00 00 00 " +
           Repeat("00", 31) + " 32 00 02 01 00 00 00 00 00 00"},
  };
  for (const auto& c : cases) {
    c.Call(FDevice);
    EXPECT_EQ(LastFrame(), c.Frame) << c.Name;
  }
}

TEST_F(Device, ScaleClosingInsteadOfAnsweringIsATransportFailureForEveryCommand) {
  const struct {
    const char* Name;
    std::function<void(TDevice&)> Call;
  } cases[] = {
      {"write", [](TDevice& d) { d.WriteContainer(1, 1001); }},
      {"clear", [](TDevice& d) { d.ClearPlu(); }},
      {"delete", [](TDevice& d) { d.DeletePlu(12); }},
      {"read", [](TDevice& d) { d.ReadMainGroup(2); }},
      {"raw write", [](TDevice& d) { d.UploadData("F1DF00001001000A00000005"); }},
      {"raw read", [](TDevice& d) { d.UploadData("F72300000002"); }},
  };
  // A scale that resets the connection has closed it too: one message on every system.
  for (const TReply& end : {TReply::Hangup(), TReply::Abort()})
    for (const auto& c : cases) {
      FDevice.Disable();
      FDevice.Enable("127.0.0.1", FServer.Port());
      FServer.Script({end});
      EXPECT_EQ(GeneralError([&] { c.Call(FDevice); }), "EquException: Весы закрыли подключение")
          << c.Name << (end.Reset ? ", reset" : "");
    }
}

TEST_F(Device, SilentScaleIsATransportFailure) {
  FServer.Script({TReply::Silence()});
  EXPECT_EQ(GeneralError([&] { FDevice.ClearPlu(); }), "EquException: Ошибка при получении ответа от сервера");
}

TEST(DeviceConnection, FailuresOfEnablePassThrough) {
  qdtest::TRefusingPort refusing;
  TDevice d;
  EXPECT_EQ(GeneralError([&] { d.Enable("127.0.0.1", refusing.Port()); }),
            "EquException: Ошибка при установлении подключения");
  EXPECT_EQ(GeneralError([&] { d.Enable("127.0.0.1", 0); }),
            "EquException: Номер порта должен лежать в диапазоне 1-65535");
  EXPECT_EQ(GeneralError([&] { d.Enable("localhost", 1); }).rfind("EquException: Синтаксическая ошибка в IP-адресе: ", 0), 0u);
  d.Disable();
}

// Exchange log lines, with the log clock fixed and the log in a folder of its own.
class DeviceLog : public Device {
 protected:
  void SetUp() override {
    std::random_device rd;
    FFolder = std::filesystem::temp_directory_path() / ("qd_device_log_" + std::to_string(rd()));
    SetLogFolder(FFolder.string());
    SetLogFileBaseName("127_0_0_1");
    SetLogClock([] { return TLogTime{2024, 5, 6, 7, 8, 9, 10}; });
    SetLogLevel(kLogLevelAll);
    Device::SetUp();
  }
  void TearDown() override {
    Device::TearDown();
    SetLogLevel(kLogLevelOff);
    SetLogClock({});
    std::error_code ec;
    std::filesystem::remove_all(FFolder, ec);
  }
  std::string Log() {
    std::ifstream f(FFolder / "127_0_0_1_2024.05.06.log", std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  std::filesystem::path FFolder;
};

TEST_F(DeviceLog, ExchangesAreLoggedOnlyWhenAsked) {
  WriteLog("start", "", kLogInfo);
  FDevice.ClearPlu();
  EXPECT_EQ(Log().find("Данные обмена"), std::string::npos);

  FDevice.SetExtLogEnabled(true);
  FServer.Script({TReply::Byte(0x06), TReply::Hangup()});
  FDevice.ClearPlu();
  const std::string stamp = "2024.05.06 07:08:09.010\tDEBUG\t";
  std::string log = Log();
  EXPECT_NE(log.find(stamp + "Данные обмена ->: \tF225\r\n" + stamp + "Данные обмена <-: \t06\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(GeneralError([&] { FDevice.DeletePlu(12); }), "EquException: Весы закрыли подключение");
  log = Log();
  EXPECT_NE(log.find(stamp + "Данные обмена ->: \tF32500000012\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("<-: \t00"), std::string::npos) << log;  // no answer came
}

// A scale that answers twice: answers can no longer be matched to commands. The next command
// is not sent, the failure names the last command answered, and the log shows the surplus (its
// first bytes and the count).
TEST_F(DeviceLog, SurplusBytesStopTheExchangeAndAreLogged) {
  FServer.Script({TReply{"\x06\x06", false}, TReply::Byte(0x06)});
  WriteMilk();
  EXPECT_EQ(GeneralError([&] { FDevice.WriteContainer(1, 1001); }),
            "EquException: Неожиданные данные от весов после ответа на команду F1, таблица 25, ключ = 00000001");
  EXPECT_FALSE(FDevice.TCPSocket().Connected()) << "nothing more is sent on that connection";
  EXPECT_EQ(FServer.Frames().size(), 1u);

  // Forty bytes behind a clear's answer, found by the look after the exchange.
  FDevice.Enable("127.0.0.1", FServer.Port());
  FServer.Script({TReply{"\x06" + std::string(40, '\x0D'), false}});
  FDevice.ClearPlu();
  EXPECT_EQ(GeneralError([&] { FDevice.FinishExchange(); }),
            "EquException: Неожиданные данные от весов после ответа на команду F2, таблица 25");
  const std::string stamp = "2024.05.06 07:08:09.010\t";
  std::string log = Log();
  EXPECT_NE(log.find(stamp + "ERROR\tНеожиданные данные от весов: \t06 (1 байт)\r\n"), std::string::npos) << log;
  std::string kept;
  for (int i = 0; i < 32; ++i) kept += "0D ";
  EXPECT_NE(log.find(stamp + "ERROR\tНеожиданные данные от весов: \t" + kept + "... (40 байт)\r\n"), std::string::npos)
      << log;
}

// A read is answered by one byte and, when the key exists, the record behind it: that is the
// read's own reply, logged with the answer, and no surplus; the exchange goes on as before.
TEST_F(DeviceLog, ReadTakesTheRecordBehindItsAnswer) {
  FDevice.SetExtLogEnabled(true);
  const std::string record = qdtest::Bytes("00 00 00 50 00 0B 00 41 6B 63 69");
  const struct {
    const char* Name;
    std::function<void(TDevice&)> Call;
    std::string Reply;
    std::string Data;
  } cases[] = {
      {"raw read", [](TDevice& d) { d.UploadData("F72300000050"); }, "\x06" + record, Spaced(record)},
      {"typed read", [](TDevice& d) { d.ReadMainGroup(50); }, "\x06" + record, Spaced(record)},
      {"missing key", [](TDevice& d) { d.ReadMainGroup(51); }, "\x15", ""},
  };
  for (const auto& c : cases) {
    FServer.Script({TReply{c.Reply, false}, TReply::Byte(0x06)});
    EXPECT_EQ(GeneralError([&] { c.Call(FDevice); }), "(no error)") << c.Name;
    EXPECT_EQ(Spaced(FDevice.ReadData()), c.Data) << c.Name;
    EXPECT_EQ(GeneralError([&] { FDevice.ClearPlu(); }), "(no error)") << c.Name;
    EXPECT_EQ(GeneralError([&] { FDevice.FinishExchange(); }), "(no error)") << c.Name;
  }
  const std::string log = Log();
  EXPECT_NE(log.find("DEBUG\tДанные обмена <-: \t060000005000" "0B00416B6369\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
}

// An exchange that went well ends quietly; bytes before the first command are surplus too.
TEST_F(DeviceLog, FinishedExchangeAndBytesBeforeTheFirstCommand) {
  FServer.Script({TReply::Byte(0x06)});
  FDevice.ClearPlu();
  EXPECT_EQ(GeneralError([&] { FDevice.FinishExchange(); }), "(no error)");
  EXPECT_TRUE(FDevice.TCPSocket().Connected());

  // A scale that speaks first: its bytes would be read as the first command's answer.
  FServer.SetGreeting("\x06\x06");
  FServer.ClearFrames();
  FDevice.Disable();
  FDevice.Enable("127.0.0.1", FServer.Port());
  ASSERT_TRUE(FDevice.TCPSocket().WaitForData(2000));
  EXPECT_EQ(GeneralError([&] { FDevice.ClearPlu(); }), "EquException: Неожиданные данные от весов до первой команды");
  EXPECT_TRUE(FServer.Frames().empty()) << "nothing is sent";
  EXPECT_NE(Log().find("ERROR\tНеожиданные данные от весов: \t06 06 (2 байт)\r\n"), std::string::npos) << Log();
  FServer.SetGreeting("");
}

}  // namespace
