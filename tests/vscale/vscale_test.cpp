// The virtual scale in-process: decoding of every table, answers, refusals and faults,
// driven through the device object and through raw frames on loopback.
#include <gtest/gtest.h>

#include "support/testenv.h"

#include <functional>

#include "common/errors.h"
#include "device/Device.h"
#include "device/hex.h"
#include "scale.h"

using namespace qd;
using namespace qd::vscale;

namespace {

std::string ErrorOf(const std::function<void()>& AAction) { return qd::test::FailureOf(AAction); }

class VirtualScale : public ::testing::Test {
 protected:
  void Start(TOptions AOptions = {}) {
    AOptions.FrameTimeoutMs = 200;
    FScale = std::make_unique<TVirtualScale>(std::move(AOptions));
    FScale->Start();
    FDevice.SetCommodityFont(6);
    FDevice.SetIngredientFont(1);
    FDevice.SetSpecMessageFont(1);
    FDevice.SetCompanyFont(0);
    FDevice.SetLabelFormatNumber(17);
  }
  void SetUp() override { Start(); }
  void TearDown() override {
    FDevice.Disable();
    FScale->Stop();
  }
  void Connect() {
    FDevice.Disable();
    FDevice.Enable("127.0.0.1", FScale->Port());
  }
  // One raw frame; the answer byte.
  std::string Raw(const std::string& AHex) {
    Connect();
    FDevice.RunCommand(qdtest::Bytes(AHex));
    return FDevice.Response();
  }
  void WriteMilk(int32_t APLU, bool AWeighed, int32_t ATare) {
    FDevice.WritePlu(APLU, 2, 5, 0, 0, 0, 0, ATare, "2200001", "Milk||2.5%", "", "", 125000, AWeighed,
                     TFont{3, -1, -1, -1});
  }

  std::unique_ptr<TVirtualScale> FScale;
  TDevice FDevice;
};

TEST_F(VirtualScale, DecodesEveryTable) {
  Connect();
  WriteMilk(1, true, 0);
  WriteMilk(2, false, 150);
  FDevice.WritePieceUnitWeight(2, 250, 1000);
  FDevice.WriteContainer(1, 1001);
  FDevice.WriteGroup(2, "Молоко");
  FDevice.WriteGroupImage(2, 5);
  FDevice.WriteImage(3, "AB");
  FDevice.WriteShop(1, "Shop A||Main st.");
  FDevice.WritePresetKey(2, 2, 32, 5, "Молоко");
  TJson s = FScale->Snapshot();

  const TJson& weighed = s["plu"][0];
  EXPECT_EQ(weighed["key"].Int(), 1);
  EXPECT_FALSE(weighed["status"]["piece_goods"].Bool());
  EXPECT_EQ(weighed["status"]["bits"].Str(), "74 00");
  EXPECT_FALSE(weighed["status2"]["tare_given"].Bool());
  EXPECT_TRUE(weighed["tare"].IsNull());
  EXPECT_EQ(weighed["unit_price"].Str(), "12.50");
  EXPECT_EQ(weighed["label_format"].Int(), 17);
  EXPECT_EQ(weighed["barcode_format"].Int(), 5);
  EXPECT_EQ(weighed["ean_data"].Str(), "22000010000001");
  EXPECT_EQ(weighed["main_group"].Int(), 2);
  EXPECT_EQ(weighed["sell_by_date"].Int(), 5);
  EXPECT_EQ(weighed["commodity"].Size(), 2u);
  EXPECT_EQ(weighed["commodity"][0]["font"].Int(), 3);
  EXPECT_EQ(weighed["commodity"][0]["text"].Str(), "Milk");
  EXPECT_EQ(weighed["commodity"][1]["font"].Int(), 6);
  EXPECT_EQ(weighed["commodity"][1]["text"].Str(), "2.5%");
  EXPECT_EQ(weighed["ingredient"].Size(), 0u);

  const TJson& piece = s["plu"][1];
  EXPECT_TRUE(piece["status"]["piece_goods"].Bool());
  EXPECT_EQ(piece["status2"]["bits"].Str(), "5D E0 5F");
  EXPECT_EQ(piece["tare"].Int(), 150);
  EXPECT_EQ(piece["ean_data"].Str(), "22000010000002");

  EXPECT_EQ(s["piece_unit_weights"][0]["unit_weight"].Int(), 250);
  EXPECT_EQ(s["piece_unit_weights"][0]["total_unit_weight"].Int(), 1000);
  EXPECT_EQ(s["containers"][0]["key"].Int(), 1001);
  EXPECT_EQ(s["containers"][0]["plu"].Int(), 1);
  EXPECT_EQ(s["main_groups"][0]["name"].Str(), "Молоко");
  EXPECT_EQ(s["group_images"][0]["image"].Int(), 5);
  EXPECT_EQ(s["images"][0]["data"].Str(), "AB");
  EXPECT_EQ(s["shops"][0]["label_format"].Int(), 17);
  EXPECT_EQ(s["shops"][0]["name"][1]["text"].Str(), "Main st.");
  const TJson& preset = s["preset_keys"][0];
  EXPECT_EQ(preset["preset_key"].Int(), 2);
  EXPECT_EQ(preset["status"]["value"].Int(), 32);
  EXPECT_TRUE(preset["status"]["group_key"].Bool());
  EXPECT_EQ(preset["name"].Str(), "Молоко" + std::string(26, ' '));
  EXPECT_EQ(preset["fixed_field"].Str(), "32");
  EXPECT_EQ(preset["image"].Int(), 5);
}

TEST_F(VirtualScale, DumpsTablesAsJson) {
  Connect();
  FDevice.WriteContainer(5, 1001);
  FDevice.WriteGroup(7, "Сыр \"Б\"");
  EXPECT_EQ(FScale->DumpJson(),
            "{\n"
            "  \"plu\": [],\n"
            "  \"piece_unit_weights\": [],\n"
            "  \"containers\": [\n"
            "    {\n"
            "      \"key\": 1001,\n"
            "      \"plu\": 5\n"
            "    }\n"
            "  ],\n"
            "  \"main_groups\": [\n"
            "    {\n"
            "      \"key\": 7,\n"
            "      \"name\": \"Сыр \\\"Б\\\"\"\n"
            "    }\n"
            "  ],\n"
            "  \"group_images\": [],\n"
            "  \"images\": [],\n"
            "  \"shops\": [],\n"
            "  \"preset_keys\": []\n"
            "}\n");
}

TEST_F(VirtualScale, AnswersClearsDeletesAndReads) {
  Connect();
  FDevice.WriteGroup(2, "A");
  FDevice.WriteGroup(3, "B");
  FDevice.WriteContainer(1, 1001);
  FDevice.ReadMainGroup(2);
  EXPECT_EQ(FDevice.Response(), "\x06");
  FDevice.ReadMainGroup(9);
  EXPECT_EQ(FDevice.Response(), "\x15");
  FDevice.DeleteGroup(2);
  FDevice.DeleteGroup(2);  // missing: still E2 by default
  EXPECT_EQ(FDevice.Response(), "\xE2");
  EXPECT_EQ(FScale->Tables()[0x23].size(), 1u);
  FDevice.ClearContainer();
  EXPECT_TRUE(FScale->Tables()[0xDF].empty());
  EXPECT_EQ(FScale->Tables()[0x23].count(3), 1u);
  // Rewriting a key replaces its record.
  FDevice.WriteGroup(3, "C");
  EXPECT_EQ(FScale->Snapshot()["main_groups"][0]["name"].Str(), "C");

  FScale->SetStrictDelete(true);
  EXPECT_EQ(ErrorOf([&] { FDevice.DeleteGroup(2); }), "Ошибка удаления из таблицы 23");
  EXPECT_EQ(ErrorOf([&] { FDevice.DeleteGroup(3); }), "(no error)");
  EXPECT_TRUE(FScale->Tables()[0x23].empty());
}

TEST_F(VirtualScale, ServesOneConnectionAfterAnother) {
  for (int i = 1; i <= 3; ++i) {
    Connect();
    FDevice.WriteContainer(i, 100 + i);
  }
  FDevice.Disable();
  EXPECT_EQ(FScale->Tables()[0xDF].size(), 3u);
  EXPECT_EQ(FScale->Connections(), 3u);
}

TEST_F(VirtualScale, RefusesFramesThatDoNotFitTheirLayout) {
  const struct {
    const char* Name;
    const char* Frame;
    const char* Event;
  } cases[] = {
      {"size field too large", "F1 DF 00 00 10 01 00 0B 00 00 00 05", "ended after 12 bytes"},
      {"size field too small", "F1 DF 00 00 10 01 00 09 00 00 00 05", "more bytes followed"},
      {"size below the header", "F1 DF 00 00 10 01 00 04", "smaller than the key and size fields"},
      {"key not packed decimal", "F1 DF 00 00 1A 01 00 0A 00 00 00 05", "is not packed decimal"},
      {"container of 11 bytes", "F1 DF 00 00 10 01 00 0B 00 00 00 05 00", "a container record has 10 bytes"},
      {"broken text block", "F1 3D 00 00 00 01 00 0B 00 11 00 05 41", "record ends inside field shop name"},
      {"font above 9", "F1 3D 00 00 00 01 00 0C 00 11 0A 01 41 0C", "not packed decimal"},
      {"unknown table", "F2 99", "no table 99"},
      {"unknown command", "42 25", "unknown command"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Raw(c.Frame), "\x15") << c.Name;
    ASSERT_FALSE(FScale->Events().empty()) << c.Name;
    EXPECT_NE(FScale->Events().back().find(c.Event), std::string::npos) << c.Name << ": " << FScale->Events().back();
  }
  EXPECT_TRUE(FScale->Tables()[0xDF].empty());
  EXPECT_TRUE(FScale->Tables()[0x3D].empty());
  // The connection is still in step afterwards.
  EXPECT_EQ(Raw("F1 DF 00 00 10 01 00 0A 00 00 00 05"), "\x06");
}

TEST_F(VirtualScale, FaultsPerCommandAndTable) {
  Connect();
  FScale->SetFaults({ParseFault("F1/25=answer:15@1"), ParseFault("*/DF=close@1"), ParseFault("F2/23=answer:E2")});
  EXPECT_EQ(ErrorOf([&] { WriteMilk(1, true, 0); }), "Ошибка записи в таблицу 25, Plu = 1; Name = Milk||2.5%");
  EXPECT_EQ(ErrorOf([&] { WriteMilk(1, true, 0); }), "(no error)");  // @1: only the first one
  EXPECT_EQ(ErrorOf([&] { FDevice.WriteContainer(1, 1001); }), "EquException: Весы закрыли подключение");
  Connect();
  FDevice.WriteContainer(1, 1001);
  EXPECT_EQ(ErrorOf([&] { FDevice.ClearMainGroup(); }), "Ошибка удаления из таблицы 23");
  EXPECT_EQ(ErrorOf([&] { FDevice.ClearImage(); }), "(no error)");
  EXPECT_EQ(FScale->Tables()[0x25].size(), 1u);
  EXPECT_EQ(FScale->Tables()[0xDF].size(), 1u);
  EXPECT_NE(FScale->Events().front().find("fault: answered 15"), std::string::npos);
}

TEST_F(VirtualScale, SilenceAndLongDelaysRunIntoTheReceiveTimeOut) {
  FScale->SetFaults({ParseFault("F2=silent@1"), ParseFault("F1=delay:2300@1"), ParseFault("F3=delay:50")});
  Connect();
  EXPECT_EQ(ErrorOf([&] { FDevice.ClearPlu(); }), "EquException: Ошибка при получении ответа от сервера");
  Connect();
  EXPECT_EQ(ErrorOf([&] { FDevice.WriteContainer(1, 1001); }),
            "EquException: Ошибка при получении ответа от сервера");
  EXPECT_EQ(FScale->Tables()[0xDF].size(), 1u);  // a delayed frame is carried out
  Connect();
  EXPECT_EQ(ErrorOf([&] { FDevice.DeleteContainer(1001); }), "(no error)");
  EXPECT_TRUE(FScale->Tables()[0xDF].empty());
}

TEST_F(VirtualScale, RefusedConnections) {
  FScale->Stop();
  TOptions o;
  o.RefuseConnections = true;
  Start(o);
  EXPECT_EQ(ErrorOf([&] { Connect(); }), "EquException: Ошибка при установлении подключения");
}

TEST(VirtualScaleOptions, ParseFault) {
  TFault f = ParseFault("F1/25=answer:15@3");
  EXPECT_EQ(f.Command, 0xF1);
  EXPECT_EQ(f.Table, 0x25);
  EXPECT_EQ(f.Kind, TFaultKind::Answer);
  EXPECT_EQ(f.Byte, 0x15);
  EXPECT_EQ(f.Times, 3);
  f = ParseFault("*/df=delay:2500");
  EXPECT_EQ(f.Command, -1);
  EXPECT_EQ(f.Table, 0xDF);
  EXPECT_EQ(f.DelayMs, 2500);
  EXPECT_EQ(f.Times, -1);
  EXPECT_EQ(ParseFault("F3=silent").Table, -1);
  EXPECT_EQ(ParseFault("F3/*=close").Kind, TFaultKind::Close);
  f = ParseFault("F2=extra:E2");
  EXPECT_EQ(f.Kind, TFaultKind::Extra);
  EXPECT_EQ(f.Byte, 0xE2);
  f = ParseFault("F1/41=answer:15:300@1");
  EXPECT_EQ(f.Kind, TFaultKind::Answer);
  EXPECT_EQ(f.Byte, 0x15);
  EXPECT_EQ(f.DelayMs, 300);
  EXPECT_EQ(f.Times, 1);
  EXPECT_EQ(ParseFault("F1=answer:15").DelayMs, 0);
  const std::pair<const char*, const char*> bad[] = {
      {"F1/25", "has no '='"},
      {"F1/25=explode", "unknown fault action"},
      {"G1=close", "command \"G1\" is not a hexadecimal byte"},
      {"F1/100=close", "table \"100\""},
      {"F1=answer", "answer byte \"\" is not a hexadecimal byte"},
      {"F1=delay:soon", "delay needs milliseconds"},
      {"F1=extra", "extra byte \"\" is not a hexadecimal byte"},
      {"F1=answer:15:", "answer needs milliseconds"},
      {"F1=answer:15:later", "answer needs milliseconds"},
      {"F1=close@x", "fault count"},
  };
  for (const auto& [text, reason] : bad) {
    std::string message = ErrorOf([&fault = text] { ParseFault(fault); });
    EXPECT_NE(message.find(reason), std::string::npos) << text << ": " << message;
  }
}

}  // namespace
