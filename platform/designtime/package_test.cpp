#include "platform/designtime/package.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/exception.h"

namespace tgen {
namespace {

TEST(TPackage, UnitsStartInOrderAndStopInReverseWhateverFails) {
  const struct {
    const char* mode;
    std::vector<std::string> trace;  // + started, - stopped
    const char* error;               // null: loads
  } cases[] = {
      {"", {"+A", "+B", "+C", "-C", "-B", "-A"}, nullptr},
      {"fail-stop", {"+A", "+B", "+C", "-C", "-B", "-A"}, nullptr},  // the rest still stop
      {"fail-start", {"+A", "+B", "-A"}, "failed to start: B refuses to start"},
      {"old-version", {}, "is not a package of this version"},
  };
  for (const auto& c : cases) {
    ::setenv("TGEN_FAKE_PACKAGE", c.mode, 1);
    std::vector<std::string> trace;
    const auto observe = [&](std::string_view unit, bool starting) {
      trace.push_back((starting ? "+" : "-") + std::string(unit));
    };
    try {
      auto package = TPackage::Load(TGEN_FAKE_PACKAGE, observe);
      EXPECT_EQ(c.error, nullptr) << c.mode;
      EXPECT_EQ(package->Name(), "fake");
      EXPECT_EQ(package->UnitNames(), (std::vector<std::string>{"A", "B", "C"}));
      package->Register();  // no registration entry: nothing happens
    } catch (const Exception& e) {
      ASSERT_NE(c.error, nullptr) << c.mode << ": " << e.what();
      EXPECT_NE(e.Message().find(c.error), std::string::npos) << e.what();
      EXPECT_NE(e.Message().find(TGEN_FAKE_PACKAGE), std::string::npos) << e.what();
    }
    EXPECT_EQ(trace, c.trace) << c.mode;
  }
  ::unsetenv("TGEN_FAKE_PACKAGE");
}

TEST(TPackage, WhatIsNoModuleIsRefusedByItsPath) {
  for (const std::string& path :
       {std::string("/nonexistent/tgenerator-package.so"), std::string(__FILE__)}) {
    try {
      TPackage::Load(path);
      ADD_FAILURE() << "loaded " << path;
    } catch (const Exception& e) {
      EXPECT_NE(e.Message().find(path), std::string::npos) << e.what();
    }
  }
}

TEST(DefaultPackagePaths, TheListThenTheInstalledThenTheBuildTree) {
  namespace fs = std::filesystem;
  const fs::path real = TGEN_FAKE_PACKAGE;
  const fs::path missing = "/nonexistent/tgenerator-package.so";
  ::unsetenv("TGEN_PACKAGES");
  EXPECT_EQ(DefaultPackagePaths(real, missing), std::vector<fs::path>{real});
  EXPECT_EQ(DefaultPackagePaths(missing, real), std::vector<fs::path>{real});
  EXPECT_TRUE(DefaultPackagePaths(missing, missing).empty());
  ::setenv("TGEN_PACKAGES", "/a.so::/b.so", 1);  // named ones are taken as they are
  EXPECT_EQ(DefaultPackagePaths(real, real), (std::vector<fs::path>{"/a.so", "/b.so"}));
  ::unsetenv("TGEN_PACKAGES");
}

}  // namespace
}  // namespace tgen
