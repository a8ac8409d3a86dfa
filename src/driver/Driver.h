// The scale driver: the component the host creates under the library's class name. It owns
// the device object that talks to one scale over TCP, registers the scale settings and the
// ten scale methods, and opens, closes and tests the connection.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "device/Device.h"
#include "driver/ScaleOfflineDriver.h"
#include "driver/Tables.h"
#include "driver/UploadProgress.h"

namespace qd {

inline constexpr const char* kDriverClassName = "w_quendal7v2k";
inline constexpr const char* kMsgScaleConnected = "Весы подключены";

// A table upload that failed at one record still checks every record after it (nothing more is
// sent): each further failure is an ERROR line kMsgRecordFailed, and the call's message adds
// kMsgMoreFailures, the count, kMsgMoreFailuresTail and the first kFailuresListed of them.
inline constexpr const char* kMsgRecordFailed = "Ошибка в записи";
inline constexpr const char* kMsgMoreFailures = "ещё ";
inline constexpr const char* kMsgMoreFailuresTail = " записей с ошибками: ";
inline constexpr size_t kFailuresListed = 10;

// The start of the message of a setting whose value cannot be used.
inline constexpr const char* kMsgBadSetting = "Недопустимое значение настройки";

class TDriver : public TScaleOfflineDriver {
 public:
  TDriver() = default;
  ~TDriver() override;

  static std::string ClassName() { return kDriverClassName; }
  std::string NCClassName() const override { return ClassName(); }
  std::string DriverClassName() const override { return "TDriver"; }

  void Create() override;
  void RegisterMethods() override;
  void RegisterSettings() override;
  void Open() override;
  void Close() override;
  // Fails with kMsgBadSetting when a numeric setting that goes into the records cannot fit.
  void CheckFrameSettings();
  void DeviceTest(std::string& ADescription, std::string& ADemoModeIsActivated) override;

  TDevice* Device() const { return FDevice.get(); }

  // The scale operations behind the host methods; each fails with its message.
  void UploadGoods(const std::string& ATable);
  void UploadGroups(const std::string& ATable);
  void UploadShops(const std::string& ATable);
  void UploadImages(const std::string& ATable);
  void ClearGoods();
  void ClearGroups();
  void ClearImages();
  void DeleteGood(const TValue& APLU);
  void DeleteGroup(const TValue& AGroup);
  void UploadData(const TValue& AFileName, const TValue& AData);

 private:
  // Closes the connection and opens a fresh one with the address and port of the settings.
  void Reconnect();
  // A setting read as the driver needs it; a value that does not convert fails with
  // kMsgBadSetting, naming the setting, its value and the kind it must be.
  int32_t SettingInt(const char* AName);
  bool SettingBool(const char* AName);
  // Every scale operation: ACommands over a fresh connection, ended by the device
  // (TDevice::RunOperation), so that no operation can forget the look for bytes that belong
  // to no command.
  void Operation(const std::function<void()>& ACommands);

  void WriteGoodsTable(TInputTable& ATable);
  void WriteGroupsTable(TInputTable& ATable);
  void WriteShopsTable(TInputTable& ATable);
  void WriteImagesTable(TInputTable& ATable);
  void SendDataFile(const std::string& AFileName, const std::string& AData);

  // Reads, checks and builds the record at position AIndex (from 1) of its table; a refusal
  // names the record (std::runtime_error).
  using TRecordCheck = std::function<void(const TRecord&, size_t)>;
  // Groups, shops and images: every record built by ABuild into AFrames and sent.
  void WriteItems(TInputTable& ATable, const char* AKey, TUploadProgress& AProgress, TItemFrames& AFrames,
                  const TRecordCheck& ABuild);
  // Runs AWork for the record at AIndex; a failure of the record (not of the transport) goes to
  // FailTable.
  template <typename F>
  void OrFailTable(TInputTable& ATable, size_t AIndex, const char* AKey, const TRecordCheck& ACheck, F&& AWork);
  // Ends an upload whose record AIndex failed with AFirst: after the look behind a refusal,
  // every later record is checked with ACheck and nothing is sent; fails with AFirst and the
  // further failures. ARead, when given, is record AIndex read ahead, with AReadFailure.
  [[noreturn]] void FailTable(TInputTable& ATable, size_t AIndex, const char* AKey, const std::string& AFirst,
                              const TRecordCheck& ACheck, const TRecord* ARead = nullptr,
                              const std::string& AReadFailure = {});

  // Reads and checks a goods record and has the device build all of its frames; with AIndex, a
  // refused value is reported naming the attribute, the value as written and the record.
  void PrepareGoods(const TRecord& ARecord, TItemFrames& AFrames);
  void PrepareGoods(const TRecord& ARecord, size_t AIndex, TItemFrames& AFrames);

  std::unique_ptr<TDevice> FDevice;
  // Why the last Open did not give the device its settings; empty once it did. An opened
  // driver whose settings failed sends nothing: every operation fails with this message.
  std::string FSettingsError;
  TGoodsItem FItem;  // the goods item being built, kept for its storage
};

// The library-load steps of the driver's class: description record and registration.
void RegisterDriverClass();

}  // namespace qd
