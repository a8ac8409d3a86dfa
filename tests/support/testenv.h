// Shared helpers of the tests: the folder of the test program (modules sit beside it) and
// temporary folders that are removed afterwards.
#pragma once
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

#include "common/errors.h"
#include "platform/env.h"

namespace qd::test {

inline std::filesystem::path BinDir() { return std::filesystem::path(platform::ModulePath()).parent_path(); }

inline std::string ModuleFile(const std::string& AName) {
#if defined(_WIN32)
  return (BinDir() / (AName + ".dll")).string();
#else
  return (BinDir() / (AName + ".so")).string();
#endif
}

class TTempDir {
 public:
  TTempDir() {
    std::mt19937_64 rng(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    FPath = std::filesystem::temp_directory_path() / ("qdtest-" + std::to_string(rng()));
    std::filesystem::create_directories(FPath);
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::filesystem::path& Path() const { return FPath; }
  std::string Str() const { return FPath.string(); }

 private:
  std::filesystem::path FPath;
};

inline std::string ReadAll(const std::filesystem::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void SetEnvVar(const char* AName, const std::string& AValue) {
#if defined(_WIN32)
  _putenv_s(AName, AValue.c_str());
#else
  setenv(AName, AValue.c_str(), 1);
#endif
}

// The message the action fails with, prefixed "EquException: " for driver exceptions;
// "(no error)" when it succeeds.
inline std::string FailureOf(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const EquException& e) {
    return std::string("EquException: ") + e.what();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace qd::test
