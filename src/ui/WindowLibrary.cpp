#include "ui/WindowLibrary.h"

#include <mutex>
#include <stdexcept>

#include "common/utils.h"
#include "platform/dynlib.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "ui/Windows.h"

namespace qd::ui {

namespace {

const char kMsgPrefix[] = "Окно не может быть показано: ";

// Loaded once and kept: the toolkit registers its types with the process for good, and a
// window may still be open on another thread.
struct TLoaded {
  std::mutex Lock;
  const TQdWindowLibrary* Routines = nullptr;
};

TLoaded& Loaded() {
  static TLoaded* loaded = new TLoaded;  // never destroyed: the process may exit during a call
  return *loaded;
}

void KeepMessage(void* AContext, const char* AMessage) {
  *static_cast<std::string*>(AContext) = AMessage ? AMessage : "";
}

void ThrowIfFailed(int AResult, const std::string& AMessage) {
  if (AResult != 0) throw std::runtime_error(AMessage.empty() ? std::string(kMsgPrefix) + "ошибка окна" : AMessage);
}

}  // namespace

std::string WindowLibraryPath() {
  return ExtractFilePath(platform::ModulePath()) + kWindowLibraryName + platform::kSharedLibrarySuffix;
}

const TQdWindowLibrary& LoadWindowLibrary() {
  TLoaded& loaded = Loaded();
  std::lock_guard<std::mutex> guard(loaded.Lock);
  if (loaded.Routines) return *loaded.Routines;
  std::string path = WindowLibraryPath();
  if (!platform::FileExists(path, platform::TLinks::Follow))
    throw std::runtime_error(std::string(kMsgPrefix) + "не найдена библиотека окон " + path);
  platform::TDynLib library;
  try {
    library.Load(path, platform::TDynLib::TStay::ForGood);
  } catch (const std::exception& e) {
    // Most often the toolkit the library needs is not installed; the loader names it.
    throw std::runtime_error(std::string(kMsgPrefix) + "не удалось загрузить библиотеку окон " + path + ": " + e.what());
  }
  auto entry = reinterpret_cast<TQdWindowLibraryEntry>(library.Symbol(kWindowLibraryEntry));
  const TQdWindowLibrary* routines = entry ? entry(kWindowLibraryVersion) : nullptr;
  if (!routines || routines->Size < sizeof(TQdWindowLibrary) || !routines->ShowLogWindow ||
      !routines->ShowDocumentWindow || !routines->SetReadyHook)
    throw std::runtime_error(std::string(kMsgPrefix) + "библиотека окон " + path + " не подходит к этой версии драйвера");
  loaded.Routines = routines;
  return *routines;
}

void InstallWindowLibrary() {
  SetLogWindow([](const std::string& ALogFolder) {
    std::string message;
    ThrowIfFailed(LoadWindowLibrary().ShowLogWindow(ALogFolder.c_str(), &KeepMessage, &message), message);
  });
  SetDocumentWindow([](const std::string& AHtmlFilePath, const std::string& ACaption) {
    std::string message;
    ThrowIfFailed(LoadWindowLibrary().ShowDocumentWindow(AHtmlFilePath.c_str(), ACaption.c_str(), &KeepMessage, &message),
                  message);
  });
}

}  // namespace qd::ui
