// A package for the loader's tests: units A, B and C. TGEN_FAKE_PACKAGE makes B fail to start
// ("fail-start") or to stop ("fail-stop"), or the table claim another version ("old-version").
#include <cstdlib>
#include <iterator>
#include <stdexcept>
#include <string_view>

#include "platform/designtime/package.h"

namespace {

bool Mode(std::string_view mode) {
  const char* set = std::getenv("TGEN_FAKE_PACKAGE");
  return set != nullptr && mode == set;
}

void StartB() {
  if (Mode("fail-start")) throw std::runtime_error("B refuses to start");
}
void StopB() {
  if (Mode("fail-stop")) throw std::runtime_error("B refuses to stop");
}

constexpr tgen::TPackageUnit kUnits[] = {
    {"A", nullptr, nullptr}, {"B", &StartB, &StopB}, {"C", nullptr, nullptr}};

tgen::TPackageInfo info = {tgen::TPackageInfoVersion, "fake", nullptr, std::data(kUnits),
                           std::size(kUnits),         nullptr};

}  // namespace

extern "C" __attribute__((visibility("default"))) const tgen::TPackageInfo* TGenPackageInfo() {
  info.Version = Mode("old-version") ? tgen::TPackageInfoVersion + 1 : tgen::TPackageInfoVersion;
  return &info;
}
