// The progress of a table upload in the host's status line.
#pragma once
#include <chrono>
#include <cstddef>
#include <string>

#include "cf/component.h"

namespace qd {

// Shows "<what>: N из M" in the host's status line when the upload starts and then at most
// every kInterval as records are done, and resets the status line when the upload ends,
// whether it succeeded or failed. Without a host connection nothing is called. The status
// line never fails an upload.
class TUploadProgress {
 public:
  static constexpr std::chrono::milliseconds kInterval{250};

  TUploadProgress(TNativeComponent& AHost, std::string AWhat, size_t ATotal);
  ~TUploadProgress();
  TUploadProgress(const TUploadProgress&) = delete;
  TUploadProgress& operator=(const TUploadProgress&) = delete;

  // One more record is in the scale.
  void Step();

 private:
  void Show();

  TNativeComponent& FHost;
  std::string FWhat;
  size_t FTotal;
  size_t FDone = 0;
  std::chrono::steady_clock::time_point FShown;
};

// The texts of the uploads.
inline constexpr const char* kProgressGoods = "Загрузка товаров в весы";
inline constexpr const char* kProgressGroups = "Загрузка групп в весы";
inline constexpr const char* kProgressShops = "Загрузка магазинов в весы";
inline constexpr const char* kProgressImages = "Загрузка картинок в весы";
inline constexpr const char* kProgressData = "Загрузка данных в весы";

}  // namespace qd
