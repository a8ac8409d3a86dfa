#include "ui/WindowSet.h"

#include <exception>
#include <string>

#include "ui/DocView.h"
#include "ui/LogViewer.h"
#include "ui/Windows.h"

#include "platform/window.h"

namespace qd::ui {

namespace {

// Runs a window; whatever it throws goes to the sink as text.
template <typename TRun>
int Guarded(TRun ARun, TQdWindowErrorSink ASink, void* AContext) noexcept {
  const char* message = nullptr;
  std::string text;
  try {
    ARun();
    return 0;
  } catch (const std::exception& e) {
    try {
      text = e.what();
      message = text.c_str();
    } catch (...) {
      message = "Недостаточно памяти";
    }
  } catch (...) {
    message = "Неизвестная ошибка окна";
  }
  if (ASink) ASink(AContext, message);
  return 1;
}

int ShowLog(const char* ALogFolder, TQdWindowErrorSink ASink, void* AContext) {
  return Guarded([&] { TfrmLog::ShowModal(ALogFolder ? ALogFolder : ""); }, ASink, AContext);
}

int ShowDocument(const char* AHtmlFilePath, const char* ACaption, TQdWindowErrorSink ASink, void* AContext) {
  return Guarded([&] { TfrmDocView(AHtmlFilePath ? AHtmlFilePath : "", ACaption ? ACaption : "").ShowModal(); },
                 ASink, AContext);
}

void SetReadyHook(TQdWindowReadyHook AHook, void* AContext) {
  if (!AHook) {
    platform::window::SetWindowReadyHook(nullptr);
    return;
  }
  platform::window::SetWindowReadyHook([AHook, AContext](const platform::window::TWindowProbe& AProbe) {
    if (AHook(AContext, AProbe.Caption.c_str(), AProbe.Location.c_str()) && AProbe.Close) AProbe.Close();
  });
}

}  // namespace

const TQdWindowLibrary& WindowLibraryRoutines() {
  static const TQdWindowLibrary routines = {sizeof(TQdWindowLibrary), &ShowLog, &ShowDocument, &SetReadyHook};
  return routines;
}

void InstallDriverWindows() {
  platform::window::KeepToolkitLoaded();
  SetLogWindow([](const std::string& ALogFolder) { TfrmLog::ShowModal(ALogFolder); });
  SetDocumentWindow([](const std::string& AHtmlFilePath, const std::string& ACaption) {
    TfrmDocView(AHtmlFilePath, ACaption).ShowModal();
  });
}

}  // namespace qd::ui
