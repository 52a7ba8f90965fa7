// The design-time package: the module a form designer loads to offer the generator, its
// editors and its dialogs. It holds the list of its units and their start-up order; the
// designer shuts them down in reverse when it unloads the package.
#include <iterator>

#include "design/gensrc.h"
#include "design/units.h"
#include "platform/designtime/package.h"

namespace {

constexpr tgen::TPackageUnit kUnits[] = {
    {"Gendlg", &tgen::GendlgInitialization, &tgen::GendlgFinalization},
    {"Setupdlg", nullptr, nullptr},
    {"uAbt", nullptr, &tgen::UAbtFinalization},
    {"Gensrc", nullptr, nullptr},
};

constexpr tgen::TPackageInfo kPackage = {
    tgen::TPackageInfoVersion,
    "tgenerator",
    "Formatted key generator: component, editors and dialogs",
    std::data(kUnits),
    std::size(kUnits),
    &tgen::Register,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const tgen::TPackageInfo* TGenPackageInfo() {
  return &kPackage;
}
