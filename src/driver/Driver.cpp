// The scale driver: settings, Open/Close/DeviceTest and the scale methods.
#include "driver/Driver.h"

#include <stdexcept>
#include <utility>

#include "cf/registry.h"
#include "common/log.h"
#include "common/resources.h"
#include "common/errors.h"
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

// How a refused value is put to the user: the record field (by its identifier), the attribute
// of the input table that the value came from, and the range it must keep to (null: the
// encoder's reason says it, as for the lines of a text). One table per input table.
struct TFieldWord {
  TField Field;
  const char* Attribute;
  const char* Limit;
};

const TFieldWord kGoodsWords[] = {
    {TField::PluNumber, "PLU", "от 0 до 99999999"},
    {TField::ItemPlu, "PLU", "от 0 до 99999999"},
    {TField::UnitPrice, "Price", "от 0 до 999999,99"},
    {TField::EanData, "EANData", "первые 7 знаков — цифры"},
    {TField::MainGroupCode, "GroupCode", "от 0 до 9999"},
    {TField::SellByDate, "SellByDate", "от 0 до 9999"},
    {TField::SellByTime, "SellByTime", "от 0 до 9999"},
    {TField::UsedByDate, "UsedByDate", "от 0 до 9999"},
    {TField::PackedDate, "PackedDate", "от 0 до 9999"},
    {TField::PackedTime, "PackedTime", "от 0 до 9999"},
    {TField::PluTare, "PLUTare", "от 0 до 9999"},
    {TField::Commodity, "Name", nullptr},
    {TField::Ingredient, "Description", nullptr},
    {TField::SpecMessage, "SpecMessage", nullptr},
    {TField::UnitWeight, "UnitWeight", "от 0 до 99999999"},
    {TField::TotalUnitWeight, "TotalUnitWeight", "от 0 до 99999999"},
    {TField::GoodsCode, "Code", "от 0 до 99999999"},
    {TField::KeyGroupCode, "GroupCode", nullptr},
    {TField::KeyCode, "Code", nullptr},
};
const TFieldWord kGroupWords[] = {
    {TField::GroupCode, "Code", "от 0 до 99999999"},
    {TField::RecordSize, "Name", "не более 65528 знаков"},
    {TField::PresetNumber, "Code", "от 0 до 99999999"},
    {TField::ImageNumber, "ImageNumber", "от 0 до 9999"},
    {TField::PresetImage, "ImageNumber", "от 0 до 9999"},
};
const TFieldWord kShopWords[] = {
    {TField::ShopCode, "Code", "от 0 до 99999999"},
    {TField::ShopName, "Name", nullptr},
};
const TFieldWord kImageWords[] = {
    {TField::ImageKey, "ImageNumber", "от 0 до 99999999"},
    {TField::RecordSize, "ImageData", "не более 65528 байт"},
};

// The checks of the records and the attribute each of them reads.
const std::pair<const char*, const char*> kCheckAttributes[] = {
    {kMsgBarcodeTooShort, "EANData"}, {kMsgBadPlu, "PLU"},         {kMsgBadGoodsCode, "Code"},
    {kMsgBadGoodsGroup, "GroupCode"}, {kMsgBadPrice, "Price"},     {kMsgBadSellByDate, "SellByDate"},
    {kMsgBadSellByTime, "SellByTime"}, {kMsgBadTare, "PLUTare"},   {kMsgBadGroup, "Code"},
    {kMsgBadImage, "ImageNumber"},    {kMsgBadShop, "Code"},
};

// An attribute's value as the table holds it, quoted; the first 40 characters of a long one.
std::string Written(const TRecord& ARecord, const char* AAttribute) {
  const std::string* v = ARecord.Find(AAttribute);
  if (!v) return "не задано";
  size_t cut = 0, chars = 0;
  while (cut < v->size() && chars < 40) {
    ++cut;
    while (cut < v->size() && (static_cast<unsigned char>((*v)[cut]) & 0xC0) == 0x80) ++cut;
    ++chars;
  }
  return "\"" + v->substr(0, cut) + (cut < v->size() ? "…\"" : "\"");
}

template <size_t N>
std::string RecordRefusal(const std::exception& AError, const TRecord& ARecord, size_t AIndex, const char* AKey,
                          const TFieldWord (&AWords)[N]) {
  std::string message = AError.what();
  if (const auto* refusal = dynamic_cast<const EFieldRefusal*>(&AError)) {
    for (const TFieldWord& w : AWords)
      if (refusal->Id() == w.Field) {
        if (refusal->Reason() == kReasonNotANumber) {
          // Its own text first, as it has always read, then the attribute as the table writes it.
          message += std::string(": ") + w.Attribute + " = " + Written(ARecord, w.Attribute);
          break;
        }
        const std::string reason = w.Limit ? std::string(w.Limit) : refusal->Reason();
        message = std::string("Недопустимое значение поля \"") + w.Attribute + "\": " + Written(ARecord, w.Attribute) +
                  " (" + reason + ")";
        break;
      }
  } else {
    for (const auto& check : kCheckAttributes)
      if (message == check.first) {
        message += std::string(": ") + check.second + " = " + Written(ARecord, check.second);
        break;
      }
  }
  return message + "; запись " + std::to_string(AIndex) + ", " + AKey + " = " + Written(ARecord, AKey);
}

// Runs AWork, which reads, checks or encodes the record at position AIndex of its table: a value
// it refuses is reported in the terms of the table, naming the record.
template <size_t N, class F>
void ForRecord(const TRecord& ARecord, size_t AIndex, const char* AKey, const TFieldWord (&AWords)[N], F&& AWork) {
  try {
    AWork();
  } catch (const EquException&) {
    throw;
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(RecordRefusal(e, ARecord, AIndex, AKey, AWords));
  }
}

// AConvert of the value of setting AName; a value that does not convert is refused naming the
// setting, the value as written and the kind it must be.
template <class F>
auto ConvertSetting(const char* AName, const TValue& AValue, const char* AKind, F&& AConvert) {
  try {
    return AConvert(AValue);
  } catch (const std::runtime_error&) {
    std::string written;
    try {
      written = "\"" + VariantToStr(AValue) + "\"";
    } catch (const std::runtime_error&) {
      written = "не задано";
    }
    throw std::runtime_error(std::string(kMsgBadSetting) + " \"" + AName + "\": " + written + " (" + AKind + ")");
  }
}

}  // namespace

int32_t TDriver::SettingInt(const char* AName) {
  return ConvertSetting(AName, GetSettingValue(AName), "нужно целое число", VariantToInt);
}

bool TDriver::SettingBool(const char* AName) {
  return ConvertSetting(AName, GetSettingValue(AName), "нужно true или false", VariantToBool);
}

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

// The settings that go into every record as numbers of a fixed width: a value that cannot
// fit would fail every record of every upload, so Open refuses it, naming the setting.
void TDriver::CheckFrameSettings() {
  struct TLimit {
    const char* Name;
    int32_t Max;
  };
  static const TLimit kLimits[] = {{"LabelFormatNumber", 255}, {"CommodityFont", 9}, {"IngredientFont", 9},
                                   {"SpecMessageFont", 9},     {"CompanyFont", 9}};
  for (const TLimit& limit : kLimits) {
    const std::string written = GetSettingValueStr(limit.Name);
    const int32_t value = SettingInt(limit.Name);
    if (value < 0 || value > limit.Max)
      throw std::runtime_error(std::string(kMsgBadSetting) + " \"" + limit.Name + "\": " + written + " (от 0 до " +
                               std::to_string(limit.Max) + ")");
  }
}

// Marked opened first, then the log switched on, and only then the steps that can fail, so
// that each failure is in the log (the call's ERROR line) and the driver stays opened. Until the
// device has its settings, no operation sends anything.
void TDriver::Open() {
  TScaleOfflineDriver::Open();
  try {
    // Number texts of the library use "."; this is the library's own setting, the process
    // locale is left alone.
    SetDecimalSeparator('.');
    SetLogEnabled(SettingBool("LogEnabled"));
    std::string baseName = GetSettingValueStr("IPAddress");
    for (char& c : baseName)
      if (c == '.') c = '_';
    SetLogFileBaseName(baseName);
    FDevice->SetExtLogEnabled(SettingBool("ExtLogEnabled"));
    CheckFrameSettings();
    FDevice->SetCommodityFont(SettingInt("CommodityFont"));
    FDevice->SetIngredientFont(SettingInt("IngredientFont"));
    FDevice->SetCompanyFont(SettingInt("CompanyFont"));
    FDevice->SetSpecMessageFont(SettingInt("SpecMessageFont"));
    FDevice->SetLabelFormatNumber(SettingInt("LabelFormatNumber"));
  } catch (const std::exception& e) {
    FSettingsError = e.what();
    throw;
  }
  FSettingsError.clear();
  Reconnect();
}

void TDriver::Reconnect() {
  FDevice->Disable();
  FDevice->Enable(GetSettingValueStr("IPAddress"), SettingInt("IPPort"));
}

void TDriver::Operation(const std::function<void()>& ACommands) {
  if (!FSettingsError.empty()) throw std::runtime_error(FSettingsError);
  FDevice->RunOperation(GetSettingValueStr("IPAddress"), SettingInt("IPPort"), ACommands);
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
    if (wasOpened) {
      // An Open that did not give the device its settings is not "connected" by a test.
      if (!FSettingsError.empty()) throw std::runtime_error(FSettingsError);
      Reconnect();
    } else {
      Open();
    }
    ADescription = kMsgScaleConnected;
  } catch (...) {
    if (!wasOpened) Close();
    throw;
  }
  if (!wasOpened) Close();
}

template <typename F>
void TDriver::OrFailTable(TInputTable& ATable, size_t AIndex, const char* AKey, const TRecordCheck& ACheck, F&& AWork) {
  try {
    AWork();
  } catch (const EquException&) {
    throw;  // the connection failed or answers no longer match their commands: nothing to add
  } catch (const std::runtime_error& e) {
    FailTable(ATable, AIndex, AKey, e.what(), ACheck);
  }
}

// ---- goods ----

void TDriver::UploadGoods(const std::string& ATable) {
  CheckEnabled();
  TInputTable table(ATable);
  Operation([&] { WriteGoodsTable(table); });
}

void TDriver::PrepareGoods(const TRecord& ARecord, size_t AIndex, TItemFrames& AFrames) {
  ForRecord(ARecord, AIndex, "PLU", kGoodsWords, [&] { PrepareGoods(ARecord, AFrames); });
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
  auto check = [&](const TRecord& ARecord, size_t AIndex) { PrepareGoods(ARecord, AIndex, next); };
  if (!ATable.Next(record)) return;
  size_t index = 1;
  OrFailTable(ATable, index, "PLU", check, [&] { PrepareGoods(record, index, frames); });
  for (;;) {
    bool more = false;
    std::string nextFailure;
    try {
      FDevice->SendFrames(frames, [&] {
        more = ATable.Next(record);
        if (!more) return;
        ++index;
        try {
          PrepareGoods(record, index, next);
        } catch (const EquException&) {
          throw;
        } catch (const std::runtime_error& e) {
          nextFailure = e.what();
        }
      });
    } catch (const EquException&) {
      throw;
    } catch (const std::runtime_error& e) {
      // The scale refused the record sent; the one read meanwhile, if any, is checked already.
      FailTable(ATable, index, "PLU", e.what(), check, &record, nextFailure);
    }
    if (!nextFailure.empty()) FailTable(ATable, index, "PLU", nextFailure, check);
    progress.Step();
    if (!more) return;
    std::swap(frames, next);
  }
}

// ---- groups, shops, images ----

void TDriver::UploadGroups(const std::string& ATable) {
  CheckEnabled();
  TInputTable table(ATable);
  Operation([&] { WriteGroupsTable(table); });
}

void TDriver::UploadShops(const std::string& ATable) {
  CheckEnabled();
  TInputTable table(ATable);
  Operation([&] { WriteShopsTable(table); });
}

void TDriver::UploadImages(const std::string& ATable) {
  CheckEnabled();
  TInputTable table(ATable);
  Operation([&] { WriteImagesTable(table); });
}

void TDriver::WriteGroupsTable(TInputTable& ATable) {
  TUploadProgress progress(*this, kProgressGroups, ATable.RecordCount());
  TItemFrames frames;
  auto build = [&](const TRecord& ARecord, size_t AIndex) {
    ForRecord(ARecord, AIndex, "Code", kGroupWords, [&] {
      TGroupRecord g = ReadGroupRecord(ARecord);
      CheckGroupRecord(g);
      FDevice->BuildGroupFrames(g.Code, g.ImageNumber, g.Name, frames);
    });
  };
  WriteItems(ATable, "Code", progress, frames, build);
}

void TDriver::WriteShopsTable(TInputTable& ATable) {
  TUploadProgress progress(*this, kProgressShops, ATable.RecordCount());
  TItemFrames frames;
  auto build = [&](const TRecord& ARecord, size_t AIndex) {
    ForRecord(ARecord, AIndex, "Code", kShopWords, [&] {
      TShopRecord s = ReadShopRecord(ARecord);
      CheckShopRecord(s);
      FDevice->BuildShopFrames(s.Code, s.Name, frames);
    });
  };
  WriteItems(ATable, "Code", progress, frames, build);
}

void TDriver::WriteImagesTable(TInputTable& ATable) {
  TUploadProgress progress(*this, kProgressImages, ATable.RecordCount());
  TItemFrames frames;
  auto build = [&](const TRecord& ARecord, size_t AIndex) {
    ForRecord(ARecord, AIndex, "ImageNumber", kImageWords, [&] {
      TImageRecord i = ReadImageRecord(ARecord);
      CheckImageRecord(i);
      FDevice->BuildImageFrames(i.ImageNumber, i.ImageData, frames);
    });
  };
  WriteItems(ATable, "ImageNumber", progress, frames, build);
}

void TDriver::WriteItems(TInputTable& ATable, const char* AKey, TUploadProgress& AProgress, TItemFrames& AFrames,
                         const TRecordCheck& ABuild) {
  TRecord record;
  size_t index = 0;
  while (ATable.Next(record)) {
    ++index;
    OrFailTable(ATable, index, AKey, ABuild, [&] {
      ABuild(record, index);
      FDevice->SendFrames(AFrames);
    });
    AProgress.Step();
  }
}

// ---- the rest of a table after a failure ----

void TDriver::FailTable(TInputTable& ATable, size_t AIndex, const char* AKey, const std::string& AFirst,
                        const TRecordCheck& ACheck, const TRecord* ARead, const std::string& AReadFailure) {
  // Nothing more is sent. When the scale refused, its last word is awaited first: a refusal
  // that belonged to another command is reported as that, not as a refusal of this record.
  FDevice->LookBehindRefusal();
  size_t count = 0;
  std::string listed;
  auto note = [&](const TRecord& ARecord, size_t AAt, const std::string& AMessage) {
    WriteLog(kMsgRecordFailed, AMessage, kLogError);
    if (++count > kFailuresListed) return;
    listed += (count > 1 ? ", " : "") + std::string("запись ") + std::to_string(AAt) + " (" + AKey + " = " +
              Written(ARecord, AKey) + ")";
  };
  // The record read while the failed one was being sent (goods) has been checked already.
  size_t index = AIndex;
  if (ARead && !AReadFailure.empty()) note(*ARead, index, AReadFailure);
  std::string stopped;
  TRecord record;
  try {
    while (ATable.Next(record)) {
      ++index;
      try {
        ACheck(record, index);
      } catch (const EquException&) {
        throw;
      } catch (const std::runtime_error& e) {
        note(record, index, e.what());
      }
    }
  } catch (const std::exception& e) {
    stopped = std::string("; проверка остальных записей остановлена на записи ") + std::to_string(index + 1) + ": " +
              e.what();
  }
  std::string message = AFirst;
  if (count > 0)
    message += std::string("; ") + kMsgMoreFailures + std::to_string(count) + kMsgMoreFailuresTail + listed +
               (count > kFailuresListed ? ", …" : "");
  throw std::runtime_error(message + stopped);
}

// ---- clear and delete ----

void TDriver::ClearGoods() {
  CheckEnabled();
  Operation([&] {
    FDevice->ClearPlu();
    FDevice->ClearContainer();
  });
}

void TDriver::ClearGroups() {
  CheckEnabled();
  Operation([&] {
    FDevice->ClearMainGroup();
    FDevice->ClearGroupImage();
    FDevice->ClearPresetKeys();
    FDevice->ClearImage();
  });
}

void TDriver::ClearImages() {
  CheckEnabled();
  Operation([&] { FDevice->ClearImage(); });
}

void TDriver::DeleteGood(const TValue& APLU) {
  CheckEnabled();
  Operation([&] {
    int32_t plu = VariantToInt(APLU);
    FDevice->DeletePlu(plu);
    FDevice->DeleteContainer(plu);
  });
}

void TDriver::DeleteGroup(const TValue& AGroup) {
  CheckEnabled();
  Operation([&] {
    int32_t group = VariantToInt(AGroup);
    FDevice->DeleteGroup(group);
  });
}

// ---- raw data ----

void TDriver::UploadData(const TValue& AFileName, const TValue& AData) {
  CheckEnabled();
  std::string dataHolder;
  const std::string& data = TextOf(AData, dataHolder);
  Operation([&] {
    std::string nameHolder;
    SendDataFile(TextOf(AFileName, nameHolder), data);
  });
}

void TDriver::SendDataFile(const std::string& AFileName, const std::string& AData) {
  std::string prefix = DataCommandPrefix(AFileName);
  // Every command is spelled out before the first is sent: a character that is not
  // hexadecimal refuses the whole call.
  CheckDataDigits(AData);
  std::vector<std::string> records = SplitDataRecords(AData);
  for (std::string& record : records) {
    record.insert(0, prefix);
    HexToBytes(record, TField::Data);
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
