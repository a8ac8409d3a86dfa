// Self-closing holders of the system's handles, so that every path out of a function, a
// failure included, gives its handle back.
#pragma once
#include <windows.h>

#include <utility>

namespace qd::platform::win {

// A kernel object's handle (file, event, thread); null and INVALID_HANDLE_VALUE mean none.
class THandle {
 public:
  THandle() noexcept = default;
  explicit THandle(HANDLE AHandle) noexcept : FHandle(AHandle) {}
  ~THandle() { Close(); }
  THandle(THandle&& AOther) noexcept : FHandle(std::exchange(AOther.FHandle, nullptr)) {}
  THandle& operator=(THandle&& AOther) noexcept {
    if (this != &AOther) {
      Close();
      FHandle = std::exchange(AOther.FHandle, nullptr);
    }
    return *this;
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;

  HANDLE Get() const noexcept { return FHandle; }
  bool Valid() const noexcept { return FHandle && FHandle != INVALID_HANDLE_VALUE; }
  // Closes the handle now; false (with the system's last error) when closing failed, which
  // for a file written to may mean that data did not reach it.
  bool Close() noexcept {
    if (!Valid()) return true;
    HANDLE h = std::exchange(FHandle, nullptr);
    return CloseHandle(h) != 0;
  }

 private:
  HANDLE FHandle = nullptr;
};

// A search of FindFirstFileW, ended with FindClose.
class TFindHandle {
 public:
  explicit TFindHandle(HANDLE AHandle) noexcept : FHandle(AHandle) {}
  ~TFindHandle() {
    if (Valid()) FindClose(FHandle);
  }
  TFindHandle(const TFindHandle&) = delete;
  TFindHandle& operator=(const TFindHandle&) = delete;

  HANDLE Get() const noexcept { return FHandle; }
  bool Valid() const noexcept { return FHandle != INVALID_HANDLE_VALUE; }

 private:
  HANDLE FHandle;
};

}  // namespace qd::platform::win
