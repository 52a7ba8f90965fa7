#include "platform/base/loader.h"

#include <dlfcn.h>

#include <filesystem>

#include "platform/base/exception.h"

namespace tgen {

namespace {

// The folder of the library this code is in, where the project's other libraries lie too.
std::filesystem::path OwnFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LoadFunction), &info) == 0 ||  // NOLINT: dladdr's type
      info.dli_fname == nullptr) {
    return {};
  }
  return std::filesystem::path(info.dli_fname).parent_path();
}

}  // namespace

void* LoadFunction(const std::string& library, const std::string& built,
                   const std::string& symbol) {
  void* handle = nullptr;  // a library loaded again is the same: dlopen counts, loads once
  for (const std::filesystem::path& place : {OwnFolder() / library, std::filesystem::path(built)}) {
    std::error_code ec;
    if (!place.empty() && std::filesystem::exists(place, ec)) {
      handle = dlopen(place.c_str(), RTLD_NOW | RTLD_GLOBAL);
      if (handle != nullptr) break;
    }
  }
  if (handle == nullptr) handle = dlopen(library.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    throw EDatabaseError("Cannot load " + library + ": " + (why != nullptr ? why : "not found"),
                         TErrorKind::kUnavailable);
  }
  void* function = dlsym(handle, symbol.c_str());
  if (function == nullptr) {
    throw EDatabaseError("Cannot load " + library + ": it has no " + symbol,
                         TErrorKind::kUnavailable);
  }
  return function;
}

}  // namespace tgen
