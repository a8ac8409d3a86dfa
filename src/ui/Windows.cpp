#include "ui/Windows.h"

#include <mutex>
#include <stdexcept>

namespace qd::ui {

const char kMsgNoWindows[] = "Окно не может быть показано: окна драйвера не подключены";

namespace {

// Installed at load and read on whatever thread the host calls from.
struct TInstalled {
  std::mutex Lock;
  TLogWindowShow Log;
  TDocumentWindowShow Document;
};

TInstalled& Installed() {
  static TInstalled installed;
  return installed;
}

template <typename TShow>
TShow Take(TShow TInstalled::*AMember) {
  TInstalled& i = Installed();
  std::lock_guard<std::mutex> guard(i.Lock);
  return i.*AMember;
}

}  // namespace

void SetLogWindow(TLogWindowShow AShow) {
  std::lock_guard<std::mutex> guard(Installed().Lock);
  Installed().Log = std::move(AShow);
}

void SetDocumentWindow(TDocumentWindowShow AShow) {
  std::lock_guard<std::mutex> guard(Installed().Lock);
  Installed().Document = std::move(AShow);
}

// The window runs outside the lock: it is modal and may take as long as the user wants.
void ShowLogWindow(const std::string& ALogFolder) {
  TLogWindowShow show = Take(&TInstalled::Log);
  if (!show) throw std::runtime_error(kMsgNoWindows);
  show(ALogFolder);
}

void ShowDocumentWindow(const std::string& AHtmlFilePath, const std::string& ACaption) {
  TDocumentWindowShow show = Take(&TInstalled::Document);
  if (!show) throw std::runtime_error(kMsgNoWindows);
  show(AHtmlFilePath, ACaption);
}

}  // namespace qd::ui
