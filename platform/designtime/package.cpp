#include "platform/designtime/package.h"

#include <dlfcn.h>

#include <cstdlib>
#include <sstream>

#include <utility>

#include "platform/base/exception.h"
#include "platform/designtime/designintf.h"

namespace tgen {

namespace {

std::string LastDlError() {
  const char* text = dlerror();
  return text != nullptr ? text : "unknown error";
}

}  // namespace

std::unique_ptr<TPackage> TPackage::Load(const std::filesystem::path& path, UnitObserver observer) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    throw Exception("Can not load package " + path.string() + ": " + LastDlError());
  }
  using InfoEntry = const TPackageInfo* (*)();
  // POSIX guarantees that a function's address survives the round trip through void*.
  const auto entry =
      reinterpret_cast<InfoEntry>(  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
          dlsym(handle, TPackageInfoSymbol));
  const TPackageInfo* info = entry != nullptr ? entry() : nullptr;
  if (info == nullptr || info->Version != TPackageInfoVersion || info->Name == nullptr ||
      (info->Units == nullptr && info->UnitCount != 0)) {
    dlclose(handle);
    throw Exception(path.string() + " is not a package of this version");
  }
  // The constructor only stores; starting the units may throw and must clean up here.
  std::unique_ptr<TPackage> package(new TPackage(path, handle, *info, std::move(observer)));
  try {
    for (std::size_t i = 0; i < info->UnitCount; ++i) {
      const TPackageUnit& unit = info->Units[i];
      if (package->observer_) package->observer_(unit.Name, true);
      if (unit.Initialization != nullptr) unit.Initialization();
      package->started_ = i + 1;
    }
  } catch (const std::exception& e) {
    package.reset();  // shuts down the units that started, then closes the module
    throw Exception("Package " + path.string() + " failed to start: " + e.what());
  }
  return package;
}

TPackage::TPackage(std::filesystem::path path, void* handle, const TPackageInfo& info,
                   UnitObserver observer)
    : path_(std::move(path)),
      handle_(handle),
      info_(info),
      observer_(std::move(observer)),
      name_(info.Name),
      description_(info.Description != nullptr ? info.Description : "") {}

TPackage::~TPackage() {
  Finalize();
  dlclose(handle_);
}

void TPackage::Finalize() noexcept {
  // Nothing the package registered may outlive its code.
  if (registered_) TDesignRegistry::Global().Forget(name_);
  registered_ = false;
  while (started_ > 0) {
    const TPackageUnit& unit = info_.Units[--started_];
    try {
      if (observer_) observer_(unit.Name, false);
      if (unit.Finalization != nullptr) unit.Finalization();
    } catch (...) {  // NOLINT(bugprone-empty-catch): a unit that fails to stop stops the rest
    }
  }
}

void TPackage::Register() {
  if (registered_ || info_.Register == nullptr) return;
  registered_ = true;
  TDesignRegistry::Global().RegisterFor(name_, info_.Register);
}

std::vector<std::string> TPackage::UnitNames() const {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < info_.UnitCount; ++i)
    names.emplace_back(info_.Units[i].Name);
  return names;
}

std::vector<std::filesystem::path> DefaultPackagePaths(const std::filesystem::path& installed,
                                                       const std::filesystem::path& fallback) {
  std::vector<std::filesystem::path> found;
  if (const char* list = std::getenv("TGEN_PACKAGES"); list != nullptr && *list != '\0') {
    std::istringstream in(list);
    std::string path;
    while (std::getline(in, path, ':')) {
      if (!path.empty()) found.emplace_back(path);
    }
    return found;
  }
  for (const std::filesystem::path& candidate : {installed, fallback}) {
    std::error_code ec;
    if (!candidate.empty() && std::filesystem::exists(candidate, ec)) {
      found.push_back(candidate.lexically_normal());
      break;
    }
  }
  return found;
}

}  // namespace tgen
