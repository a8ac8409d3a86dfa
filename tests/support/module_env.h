// Test programs that drive modules through their exports load them once, after pointing the
// modules' log folder at a temporary folder (a module reads it when it loads).
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "support/testenv.h"

namespace qd::test {

class TModuleEnvironment : public ::testing::Environment {
 public:
  explicit TModuleEnvironment(std::vector<std::string> AModuleNames) : FNames(std::move(AModuleNames)) {}

  void SetUp() override {
    FLogs = std::make_unique<TTempDir>();
    SetEnvVar("W_QUENDAL7V2K_LOG_DIR", LogDir().string());
    for (const std::string& name : FNames) FModules.push_back(std::make_unique<host::TModule>(ModuleFile(name)));
  }
  void TearDown() override {
    FModules.clear();
    FLogs.reset();
  }

  // The modules in the order they were named.
  static const host::TModule& Module(size_t AIndex = 0) { return *FModules.at(AIndex); }
  static std::filesystem::path LogDir() { return FLogs->Path() / "logs"; }

 private:
  std::vector<std::string> FNames;
  static inline std::unique_ptr<TTempDir> FLogs;
  static inline std::vector<std::unique_ptr<host::TModule>> FModules;
};

}  // namespace qd::test
