// Loading a shared library at run time (the command-line host loads the module; the module
// loads its window library).
#pragma once
#include <string>

namespace qd::platform {

// The system's file name suffix of shared libraries: ".so" or ".dll".
extern const char kSharedLibrarySuffix[];

class TDynLib {
 public:
  // Whether the library leaves the process again when the holder lets go of it.
  enum class TStay { UntilUnload, ForGood };

  TDynLib() = default;
  ~TDynLib();
  TDynLib(const TDynLib&) = delete;
  TDynLib& operator=(const TDynLib&) = delete;

  // Loads the library; throws std::runtime_error with the loader's message on failure. A
  // library loaded ForGood stays in the process to its end: Unload only forgets the handle.
  // A full path is loaded as it stands, its own dependencies looked up beside it first.
  void Load(const std::string& APath, TStay AStay = TStay::UntilUnload);
  // Address of an exported symbol, or nullptr.
  void* Symbol(const char* AName) const;
  void Unload() noexcept;

 private:
  void* FHandle = nullptr;
  TStay FStay = TStay::UntilUnload;
};

}  // namespace qd::platform
