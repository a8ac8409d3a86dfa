// Loading a shared library at run time (used by the command-line host).
#pragma once
#include <string>

namespace qd::platform {

class TDynLib {
 public:
  TDynLib() = default;
  ~TDynLib();
  TDynLib(const TDynLib&) = delete;
  TDynLib& operator=(const TDynLib&) = delete;

  // Loads the library; throws std::runtime_error with the loader's message on failure.
  void Load(const std::string& APath);
  // Address of an exported symbol, or nullptr.
  void* Symbol(const char* AName) const;
  void Unload();

 private:
  void* FHandle = nullptr;
};

}  // namespace qd::platform
