// The connected-equipment driver: the ten standard methods, the opened flag, the log switch,
// the additional actions, and the description documents the host reads.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver/CustomDriver.h"

namespace qd {

enum TEquipmentType : uint8_t {
  etScanner,
  etMCR,
  etFR,
  etReceiptPrinter,
  etLabelPrinter,
  etCustomerDisplay,
  etDataCollectionTerminal,
  etAcquiringTerminal,
  etScale,
  etPrintingScale,
  etRFIDReader,
  etECR,
  etVideocamera,
  etElectronicLock,
  etUnknown,
};

// The name the documents use; throws "Enum value unacceptable" outside the enumeration.
std::string GetEquipmentTypeName(TEquipmentType AType);

struct TDriverInfo {
  std::string Name;
  std::string Description;
  TEquipmentType EquipmentType = etUnknown;
  bool IntegrationComponent = false;
  bool MainDriverInstalled = false;
  std::string DriverVersion;
  std::string IntegrationComponentVersion;
  std::string DownloadURL;
  bool LogIsEnabled = false;
  std::string LogPath;

  void Clear() {
    EquipmentType = etUnknown;
    IntegrationComponent = false;
    MainDriverInstalled = false;
    LogIsEnabled = false;
    DownloadURL.clear();
  }
};

// The one process-wide description record. Components on any thread read it while others are
// made: a reader gets a copy of the whole record, and a change is made on a copy that then
// replaces the record at once, so that nobody ever sees it half built.
TDriverInfo DriverInfo();
void UpdateDriverInfoRecord(const std::function<void(TDriverInfo&)>& AChange);

// "Number", "Boolean" or "String": the setting type the generated settings document shows.
std::string GetSettingTypeName(const TValue& AValue);

// Texts of the interface.
inline constexpr int32_t kInterfaceRevision = 3002;
inline constexpr const char* kDownloadURL = "https://www.telvarin.example/drivers/w_quendal7v2k";
inline constexpr int kStrHelpCaption = 65110;
inline constexpr int kStrDriverDescription = 65111;
inline constexpr int kStrDeviceNotEnabled = 65284;

class TCommonDriver : public TCustomDriver {
 public:
  // A driver class X deriving from this one provides, like this class:
  //   static std::string ClassName();                        // the host's class name
  //   static void ClassUpdateDriverInfo(TDriverInfo&);       // its description steps
  //   void UpdateDriverInfo(TDriverInfo& A) override { ClassUpdateDriverInfo(A); }
  //   std::string DriverClassName() const override;         // "X", for log entries
  // and calls its own Close in its destructor when it overrides Close (the destructor here
  // can only reach this class's Close).
  ~TCommonDriver() override;

  // Description record, standard methods, settings.
  void Create() override;

  // Library-load step: log base name, start banner, name and description, then the class's
  // own description steps.
  template <class T>
  static void GetDriverInfo(const std::string& AName, const std::string& ADescription) {
    FillDriverInfo(AName, ADescription);
    UpdateDriverInfoRecord(T::ClassUpdateDriverInfo);
  }
  static void ClassUpdateDriverInfo(TDriverInfo& ADriverInfo);
  virtual void UpdateDriverInfo(TDriverInfo& ADriverInfo) { ClassUpdateDriverInfo(ADriverInfo); }
  virtual std::string DriverClassName() const { return "TCommonDriver"; }

  // A registration whose name is taken is skipped with a DEBUG log entry.
  void pt_Add(const std::string& APropertyName1, const std::string& APropertyName2, bool AIsReadonly,
              const TValue& AValue) override;

  virtual void RegisterMethods();
  virtual void RegisterSettings();
  virtual void Open();
  virtual void Close();
  // Outputs: the description and a second text (always empty).
  virtual void DeviceTest(std::string& ADescription, std::string& ADemoModeIsActivated);
  virtual std::string MakeParametersXml();
  virtual std::string MakeDescriptionXml();
  virtual std::string MakeActionsXml();
  // Runs a published action, the name compared ignoring letter case; "Action not found" else.
  virtual void ExecuteAction(const std::string& AName);
  virtual TValue GetInterfaceRevision();

  // Throws EquException(70, "Устройство не включено") unless the driver is opened.
  void CheckEnabled() const;

  bool Enabled() const { return FEnabled; }
  // True when the log writes entries; true sets the most detailed level, false turns it off.
  static bool LogEnabled();
  static void SetLogEnabled(bool AValue);

  // Published actions: the log viewer and the help viewer.
  virtual void ViewLog();
  virtual void ShowHelp();

 protected:
  struct TPublishedAction {
    std::string Name;
    std::function<void()> Run;
  };
  // Actions reachable by name; subclasses append theirs to the inherited list.
  virtual std::vector<TPublishedAction> PublishedActions();

  // A host handler with the common convention: the body runs inside a catch-all; success
  // gives true, a failure goes to ProcessException and gives false.
  TObjectMethod Guarded(std::function<void(VarArrayData&)> ABody);
  // Argument AIndex of a call; a clear failure when the host passed fewer.
  static TValue& Arg(VarArrayData& AParams, size_t AIndex);

  bool FEnabled = false;

 private:
  static void FillDriverInfo(const std::string& AName, const std::string& ADescription);
};

}  // namespace qd
