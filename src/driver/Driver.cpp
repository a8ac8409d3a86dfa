// The scale driver: settings, Open/Close/DeviceTest and the scale methods.
#include "driver/Driver.h"

#include <stdexcept>

#include "cf/registry.h"
#include "common/log.h"
#include "common/resources.h"
#include "common/text.h"
#include "driver/RawData.h"

namespace qd {

namespace {

// The text of a host argument without copying it when it already is text.
const std::string& TextOf(const TValue& AValue, std::string& AHolder) {
  if (AValue.Kind() == TValueKind::String) return AValue.AsString();
  AHolder = VariantToStr(AValue);
  return AHolder;
}

}  // namespace

TDriver::~TDriver() {
  try {
    Close();
  } catch (...) {
    // Nothing may leave a destructor; the connection is gone either way.
  }
}

void TDriver::Create() {
  FDevice = std::make_unique<TDevice>();
  TScaleOfflineDriver::Create();
}

// ---- registration ----

void TDriver::RegisterMethods() {
  TScaleOfflineDriver::RegisterMethods();
  try {
    mt_Add("ВыгрузитьТовары", "UploadGoods", 3, Guarded([this](VarArrayData& a) {
             CheckEnabled();
             std::string holder;
             UploadGoods(TextOf(Arg(a, 1), holder));
           }));
    mt_Add("ВыгрузитьГруппы", "UploadGroups", 1, Guarded([this](VarArrayData& a) {
             CheckEnabled();
             std::string holder;
             UploadGroups(TextOf(Arg(a, 0), holder));
           }));
    mt_Add("ВыгрузитьМагазины", "UploadShops", 1, Guarded([this](VarArrayData& a) {
             CheckEnabled();
             std::string holder;
             UploadShops(TextOf(Arg(a, 0), holder));
           }));
    mt_Add("ОчиститьТовары", "ClearGoods", 1, Guarded([this](VarArrayData&) { ClearGoods(); }));
    mt_Add("ОчиститьГруппы", "ClearGroups", 0, Guarded([this](VarArrayData&) { ClearGroups(); }));
    mt_Add("УдалитьТовар", "DeleteGood", 1, Guarded([this](VarArrayData& a) {
             CheckEnabled();
             DeleteGood(Arg(a, 0));
           }));
    mt_Add("УдалитьГруппу", "DeleteGroup", 1, Guarded([this](VarArrayData& a) {
             CheckEnabled();
             DeleteGroup(Arg(a, 0));
           }));
    mt_Add("ВыгрузитьДанные", "UploadData", 2, Guarded([this](VarArrayData& a) {
             CheckEnabled();
             UploadData(Arg(a, 0), Arg(a, 1));
           }));
    mt_Add("ВыгрузитьКартинки", "UploadImages", 1, Guarded([this](VarArrayData& a) {
             CheckEnabled();
             std::string holder;
             UploadImages(TextOf(Arg(a, 0), holder));
           }));
    mt_Add("ОчиститьКартинки", "ClearImages", 0, Guarded([this](VarArrayData&) { ClearImages(); }));
  } catch (...) {
    // A name already taken ends this step; the component is still usable.
  }
}

void TDriver::RegisterSettings() {
  TScaleOfflineDriver::RegisterSettings();
  try {
    pt_Add("IPАдрес", "IPAddress", false, TValue::Str(""));
    pt_Add("IPПорт", "IPPort", false, TValue::Str("0"));
    pt_Add("ШрифтНаименования", "CommodityFont", false, TValue::Str("6"));
    pt_Add("ШрифтИнгридиентов", "IngredientFont", false, TValue::Str("1"));
    pt_Add("ШрифтСообщений", "SpecMessageFont", false, TValue::Str("1"));
    pt_Add("ШрифтМагазина", "CompanyFont", false, TValue::Str("0"));
    pt_Add("НомерФорматаЭтикетки", "LabelFormatNumber", false, TValue::Str("17"));
    pt_Add("ВестиЛогОбмена", "ExtLogEnabled", false, TValue::Str("false"));
  } catch (...) {
    // As for the methods: the remaining settings of this step are skipped.
  }
}

// ---- open, close, test ----

void TDriver::Open() {
  TScaleOfflineDriver::Open();
  // Number texts of the library use "."; this is the library's own setting, the process
  // locale is left alone.
  SetDecimalSeparator('.');
  SetLogEnabled(GetSettingValueBool("LogEnabled"));
  std::string baseName = GetSettingValueStr("IPAddress");
  for (char& c : baseName)
    if (c == '.') c = '_';
  SetLogFileBaseName(baseName);
  FDevice->SetExtLogEnabled(GetSettingValueBool("ExtLogEnabled"));
  FDevice->SetCommodityFont(GetSettingValueInt("CommodityFont"));
  FDevice->SetIngredientFont(GetSettingValueInt("IngredientFont"));
  FDevice->SetCompanyFont(GetSettingValueInt("CompanyFont"));
  FDevice->SetSpecMessageFont(GetSettingValueInt("SpecMessageFont"));
  FDevice->SetLabelFormatNumber(GetSettingValueInt("LabelFormatNumber"));
  Reconnect();
}

void TDriver::Reconnect() {
  FDevice->Disable();
  FDevice->Enable(GetSettingValueStr("IPAddress"), GetSettingValueInt("IPPort"));
}

void TDriver::Close() {
  if (FDevice) FDevice->Disable();
  TScaleOfflineDriver::Close();
}

void TDriver::DeviceTest(std::string& ADescription, std::string& ADemoModeIsActivated) {
  ADescription.clear();
  ADemoModeIsActivated.clear();
  bool wasOpened = FEnabled;
  try {
    // An opened driver may hold no connection (its last connect failed) or a stale one: the
    // test always makes a fresh one, as every scale operation does.
    if (wasOpened)
      Reconnect();
    else
      Open();
    ADescription = kMsgScaleConnected;
  } catch (...) {
    if (!wasOpened) Close();
    throw;
  }
  if (!wasOpened) Close();
}

// ---- goods ----

void TDriver::UploadGoods(const std::string& ATable) {
  CheckEnabled();
  TInputTable table(ATable);
  Reconnect();
  WriteGoodsTable(table);
}

std::string TDriver::PrepareGoods(const TGoodsRecord& AGoods) {
  std::string plu = FDevice->BuildPlu(AGoods.PLU, AGoods.GroupCode, AGoods.SellByDate, AGoods.SellByTime, AGoods.UsedByDateOrZero(),
                    AGoods.PackedDateOrZero(), AGoods.PackedTimeOrZero(), AGoods.PLUTare, AGoods.EANData,
                    AGoods.Name, AGoods.Description, AGoods.SpecMessage, AGoods.Price, AGoods.IsWeightGoods,
                    AGoods.Font);
  // The other records of the goods, field by field as the device encodes them.
  if (AGoods.HasUnitWeights()) {
    IntToBCD(AGoods.UnitWeight, 4, "вес единицы товара");
    IntToBCD(AGoods.TotalUnitWeight, 4, "общий вес единиц товара");
  }
  IntToBCD(AGoods.Code, 4, "код товара");
  CheckPresetNumbers(AGoods.GroupCode, AGoods.Code);
  return plu;
}

void TDriver::WriteGoodsTable(TInputTable& ATable) {
  // Each record is read, checked and its PLU command built while the scale answers the last
  // command of the record before it. The same commands go out in the same order, and an error
  // of the next record counts only after that answer was accepted, as when one record is done
  // after the other.
  TRecord record, following;
  if (!ATable.Next(record)) return;
  TGoodsRecord g = ReadGoodsRecord(record), next;
  CheckGoodsRecord(g);
  std::string plu = PrepareGoods(g), nextPlu;
  for (;;) {
    FDevice->SendPlu(plu, g.PLU, g.Name);
    if (g.HasUnitWeights()) FDevice->WritePieceUnitWeight(g.PLU, g.UnitWeight, g.TotalUnitWeight);
    FDevice->WriteContainer(g.PLU, g.Code);
    std::string keyName = g.KeyName();
    FDevice->WritePresetKey(g.FirstPresetNumber(), g.PLU, 0, 0, keyName);
    bool more = false;
    FDevice->WritePresetKey(g.SecondPresetNumber(), g.PLU, 0, 0, keyName, [&] {
      more = ATable.Next(following);
      if (!more) return;
      next = ReadGoodsRecord(following);
      CheckGoodsRecord(next);
      nextPlu = PrepareGoods(next);
    });
    if (!more) return;
    std::swap(g, next);
    std::swap(plu, nextPlu);
  }
}

// ---- groups, shops, images ----

void TDriver::UploadGroups(const std::string& ATable) {
  CheckEnabled();
  TInputTable table(ATable);
  Reconnect();
  WriteGroupsTable(table);
}

void TDriver::UploadShops(const std::string& ATable) {
  CheckEnabled();
  TInputTable table(ATable);
  Reconnect();
  WriteShopsTable(table);
}

void TDriver::UploadImages(const std::string& ATable) {
  CheckEnabled();
  TInputTable table(ATable);
  Reconnect();
  WriteImagesTable(table);
}

void TDriver::PrepareGroup(const TGroupRecord& AGroup) {
  IntToBCD(AGroup.Code, 4, "код группы");
  IntToBinBE(7 + static_cast<int64_t>(EncodeCP866(AGroup.Name).size()), 2, "размер записи");
  IntToBCD(AGroup.ImageNumber, 2, "номер изображения");
  IntToBCD(AGroup.Code, 4, "номер клавиши");
  IntToBinLE(AGroup.ImageNumber, 4, "номер изображения");
}

void TDriver::WriteGroupsTable(TInputTable& ATable) {
  ATable.ForEachRecord([this](const TRecord& ARecord) {
    TGroupRecord g = ReadGroupRecord(ARecord);
    CheckGroupRecord(g);
    PrepareGroup(g);
    FDevice->WriteGroup(g.Code, g.Name);
    FDevice->WriteGroupImage(g.Code, g.ImageNumber);
    FDevice->WritePresetKey(g.Code, g.Code, 32, g.ImageNumber, g.Name);
  });
}

void TDriver::WriteShopsTable(TInputTable& ATable) {
  ATable.ForEachRecord([this](const TRecord& ARecord) {
    TShopRecord s = ReadShopRecord(ARecord);
    CheckShopRecord(s);
    FDevice->WriteShop(s.Code, s.Name);
  });
}

void TDriver::WriteImagesTable(TInputTable& ATable) {
  ATable.ForEachRecord([this](const TRecord& ARecord) {
    TImageRecord i = ReadImageRecord(ARecord);
    CheckImageRecord(i);
    FDevice->WriteImage(i.ImageNumber, i.ImageData);
  });
}

// ---- clear and delete ----

void TDriver::ClearGoods() {
  CheckEnabled();
  Reconnect();
  FDevice->ClearPlu();
  FDevice->ClearContainer();
}

void TDriver::ClearGroups() {
  CheckEnabled();
  Reconnect();
  FDevice->ClearMainGroup();
  FDevice->ClearGroupImage();
  FDevice->ClearPresetKeys();
  FDevice->ClearImage();
}

void TDriver::ClearImages() {
  CheckEnabled();
  Reconnect();
  FDevice->ClearImage();
}

void TDriver::DeleteGood(const TValue& APLU) {
  CheckEnabled();
  Reconnect();
  int32_t plu = VariantToInt(APLU);
  FDevice->DeletePlu(plu);
  FDevice->DeleteContainer(plu);
}

void TDriver::DeleteGroup(const TValue& AGroup) {
  CheckEnabled();
  Reconnect();
  int32_t group = VariantToInt(AGroup);
  FDevice->DeleteGroup(group);
}

// ---- raw data ----

void TDriver::UploadData(const TValue& AFileName, const TValue& AData) {
  CheckEnabled();
  std::string dataHolder;
  const std::string& data = TextOf(AData, dataHolder);
  Reconnect();
  std::string nameHolder;
  SendDataFile(TextOf(AFileName, nameHolder), data);
}

void TDriver::SendDataFile(const std::string& AFileName, const std::string& AData) {
  std::string prefix = DataCommandPrefix(AFileName);
  std::vector<std::string> records = SplitDataRecords(AData);
  // Every command is spelled out before the first is sent: a character that is not
  // hexadecimal refuses the whole call.
  for (std::string& record : records) {
    record.insert(0, prefix);
    HexToBytes(record, "данные");
  }
  for (const std::string& record : records) FDevice->UploadData(record);
}

// ---- library load ----

void RegisterDriverClass() {
  TDriver::GetDriverInfo<TDriver>(kDriverClassName, LoadResourceString(kStrDriverDescription));
  RegisterNativeComponent(NativeComponentClass<TDriver>());
}

}  // namespace qd
