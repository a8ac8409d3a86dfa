// The scale driver: settings, Open/Close/DeviceTest and the scale methods.
#include "driver/Driver.h"

#include <stdexcept>

#include "cf/registry.h"
#include "common/log.h"
#include "common/resources.h"
#include "common/text.h"
#include "driver/RawData.h"
#include "driver/UploadProgress.h"

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
  FDevice->FinishExchange();
}

void TDriver::PrepareGoods(const TRecord& ARecord, TItemFrames& AFrames) {
  TGoodsRecord g = ReadGoodsRecord(ARecord);
  CheckGoodsRecord(g);
  FItem.PLU = g.PLU;
  FItem.Code = g.Code;
  FItem.GroupCode = g.GroupCode;
  FItem.SellByDate = g.SellByDate;
  FItem.SellByTime = g.SellByTime;
  FItem.UsedByDate = g.UsedByDateOrZero();
  FItem.PackedDate = g.PackedDateOrZero();
  FItem.PackedTime = g.PackedTimeOrZero();
  FItem.PLUTare = g.PLUTare;
  FItem.Barcode = std::move(g.EANData);
  FItem.Name = std::move(g.Name);
  FItem.ShortName = std::move(g.ShortName);
  FItem.Ingredients = std::move(g.Description);
  FItem.SpecMessage = std::move(g.SpecMessage);
  FItem.Price = g.Price;
  FItem.IsWeightGoods = g.IsWeightGoods;
  FItem.Font = g.Font;
  FItem.UnitWeight = g.UnitWeight;
  FItem.TotalUnitWeight = g.TotalUnitWeight;
  FDevice->BuildGoodsFrames(FItem, AFrames);
}

void TDriver::WriteGoodsTable(TInputTable& ATable) {
  // Every frame of a record is built, and so every value checked, before the first of them is
  // sent. The next record is read, checked and built while the scale answers the last frame
  // of the record before it: the same frames go out in the same order, and an error of the
  // next record counts only after that answer was accepted, as when one record is done after
  // the other.
  TUploadProgress progress(*this, kProgressGoods, ATable.RecordCount());
  TRecord record;
  TItemFrames frames, next;
  if (!ATable.Next(record)) return;
  PrepareGoods(record, frames);
  for (;;) {
    bool more = false;
    FDevice->SendFrames(frames, [&] {
      more = ATable.Next(record);
      if (more) PrepareGoods(record, next);
    });
    progress.Step();
    if (!more) return;
    std::swap(frames, next);
  }
}

// ---- groups, shops, images ----

void TDriver::UploadGroups(const std::string& ATable) {
  CheckEnabled();
  TInputTable table(ATable);
  Reconnect();
  WriteGroupsTable(table);
  FDevice->FinishExchange();
}

void TDriver::UploadShops(const std::string& ATable) {
  CheckEnabled();
  TInputTable table(ATable);
  Reconnect();
  WriteShopsTable(table);
  FDevice->FinishExchange();
}

void TDriver::UploadImages(const std::string& ATable) {
  CheckEnabled();
  TInputTable table(ATable);
  Reconnect();
  WriteImagesTable(table);
  FDevice->FinishExchange();
}

void TDriver::WriteGroupsTable(TInputTable& ATable) {
  TUploadProgress progress(*this, kProgressGroups, ATable.RecordCount());
  TItemFrames frames;
  ATable.ForEachRecord([&](const TRecord& ARecord) {
    TGroupRecord g = ReadGroupRecord(ARecord);
    CheckGroupRecord(g);
    FDevice->BuildGroupFrames(g.Code, g.ImageNumber, g.Name, frames);
    FDevice->SendFrames(frames);
    progress.Step();
  });
}

void TDriver::WriteShopsTable(TInputTable& ATable) {
  TUploadProgress progress(*this, kProgressShops, ATable.RecordCount());
  ATable.ForEachRecord([&](const TRecord& ARecord) {
    TShopRecord s = ReadShopRecord(ARecord);
    CheckShopRecord(s);
    FDevice->WriteShop(s.Code, s.Name);
    progress.Step();
  });
}

void TDriver::WriteImagesTable(TInputTable& ATable) {
  TUploadProgress progress(*this, kProgressImages, ATable.RecordCount());
  ATable.ForEachRecord([&](const TRecord& ARecord) {
    TImageRecord i = ReadImageRecord(ARecord);
    CheckImageRecord(i);
    FDevice->WriteImage(i.ImageNumber, i.ImageData);
    progress.Step();
  });
}

// ---- clear and delete ----

void TDriver::ClearGoods() {
  CheckEnabled();
  Reconnect();
  FDevice->ClearPlu();
  FDevice->ClearContainer();
  FDevice->FinishExchange();
}

void TDriver::ClearGroups() {
  CheckEnabled();
  Reconnect();
  FDevice->ClearMainGroup();
  FDevice->ClearGroupImage();
  FDevice->ClearPresetKeys();
  FDevice->ClearImage();
  FDevice->FinishExchange();
}

void TDriver::ClearImages() {
  CheckEnabled();
  Reconnect();
  FDevice->ClearImage();
  FDevice->FinishExchange();
}

void TDriver::DeleteGood(const TValue& APLU) {
  CheckEnabled();
  Reconnect();
  int32_t plu = VariantToInt(APLU);
  FDevice->DeletePlu(plu);
  FDevice->DeleteContainer(plu);
  FDevice->FinishExchange();
}

void TDriver::DeleteGroup(const TValue& AGroup) {
  CheckEnabled();
  Reconnect();
  int32_t group = VariantToInt(AGroup);
  FDevice->DeleteGroup(group);
  FDevice->FinishExchange();
}

// ---- raw data ----

void TDriver::UploadData(const TValue& AFileName, const TValue& AData) {
  CheckEnabled();
  std::string dataHolder;
  const std::string& data = TextOf(AData, dataHolder);
  Reconnect();
  std::string nameHolder;
  SendDataFile(TextOf(AFileName, nameHolder), data);
  FDevice->FinishExchange();
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
  TUploadProgress progress(*this, kProgressData, records.size());
  for (const std::string& record : records) {
    FDevice->UploadData(record);
    progress.Step();
  }
}

// ---- library load ----

void RegisterDriverClass() {
  TDriver::GetDriverInfo<TDriver>(kDriverClassName, LoadResourceString(kStrDriverDescription));
  RegisterNativeComponent(NativeComponentClass<TDriver>());
}

}  // namespace qd
