// Loading a shared library at run time: the command-line host loads the module through it.
#pragma once
#include <string>

namespace qd::platform {

class TDynLib {
 public:
  TDynLib() = default;
  ~TDynLib();
  TDynLib(const TDynLib&) = delete;
  TDynLib& operator=(const TDynLib&) = delete;

  // Loads the library; throws std::runtime_error with the loader's message on failure. A full
  // path is loaded as it stands, its own dependencies looked up beside it first.
  void Load(const std::string& APath);
  // Address of an exported symbol, or nullptr.
  void* Symbol(const char* AName) const;
  void Unload() noexcept;

 private:
  void* FHandle = nullptr;
};

}  // namespace qd::platform
