// Code page 866 through the system's code-page conversion.
#include "platform/textconv.h"

#include <windows.h>

namespace qd::platform {

namespace {

std::wstring Widen(const std::string& AText, UINT ACodePage) {
  if (AText.empty()) return {};
  int n = MultiByteToWideChar(ACodePage, 0, AText.data(), static_cast<int>(AText.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(ACodePage, 0, AText.data(), static_cast<int>(AText.size()), w.data(), n);
  return w;
}

std::string Narrow(const std::wstring& AText, UINT ACodePage, DWORD AFlags, BOOL* AUsedDefault) {
  if (AText.empty()) return {};
  const char* defChar = AUsedDefault ? "?" : nullptr;
  int n = WideCharToMultiByte(ACodePage, AFlags, AText.data(), static_cast<int>(AText.size()), nullptr, 0,
                              defChar, AUsedDefault);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(ACodePage, AFlags, AText.data(), static_cast<int>(AText.size()), s.data(), n, defChar,
                      AUsedDefault);
  return s;
}

}  // namespace

std::string Utf8ToCp866(const std::string& AText) {
  // Malformed UTF-8 becomes U+FFFD here, which code page 866 does not have: "?" again.
  BOOL usedDefault = FALSE;
  return Narrow(Widen(AText, CP_UTF8), 866, WC_NO_BEST_FIT_CHARS, &usedDefault);
}

std::string Cp866ToUtf8(const std::string& ABytes) { return Narrow(Widen(ABytes, 866), CP_UTF8, 0, nullptr); }

}  // namespace qd::platform
