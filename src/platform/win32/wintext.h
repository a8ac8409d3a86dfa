// UTF-8 <-> UTF-16 for calls into the Windows API, and the system's error texts.
#pragma once
#include <windows.h>

#include <string>

namespace qd::platform::win {

inline std::wstring Widen(const std::string& AText) {
  if (AText.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), out.data(), n);
  return out;
}

inline std::string Narrow(const wchar_t* AText, int ALen = -1) {
  if (!AText) return std::string();
  if (ALen < 0) ALen = static_cast<int>(wcslen(AText));
  if (ALen == 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, AText, ALen, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, AText, ALen, out.data(), n, nullptr, nullptr);
  return out;
}

// The system's text of an error code, without its closing full stop. Some texts hold a place
// for the name of what failed ("%1 is not a valid application"): AInsert takes it.
inline std::string ErrorText(DWORD ACode, const std::string& AInsert = "the file") {
  wchar_t* buf = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, ACode, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::string text;
  if (n && buf) {
    text = Narrow(buf, static_cast<int>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
      text.pop_back();
  }
  if (buf) LocalFree(buf);
  for (size_t at = text.find("%1"); at != std::string::npos; at = text.find("%1", at + AInsert.size()))
    text.replace(at, 2, AInsert);
  if (text.empty()) text = "System error " + std::to_string(ACode);
  return text;
}

}  // namespace qd::platform::win
