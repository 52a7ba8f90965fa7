// Loadable packages: a shared module holding a list of units, each with what runs when the
// package is loaded and when it is unloaded, and an entry that registers its components with
// the form designer.
//
// A package module exports one C function, TGenPackageInfo, returning a TPackageInfo that
// lives as long as the module. TPackage::Load opens the module, checks that table and runs the
// units' initializations in list order; destroying the TPackage runs the finalizations in the
// reverse order, takes back what the package registered and closes the module. A TPackage is
// used from one thread (the designer's GUI thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tgen {

struct TPackageUnit {
  const char* Name;
  void (*Initialization)();  // may be null
  void (*Finalization)();    // may be null
};

struct TPackageInfo {
  std::uint32_t Version;  // TPackageInfoVersion
  const char* Name;
  const char* Description;
  const TPackageUnit* Units;
  std::size_t UnitCount;
  void (*Register)();  // the design-time registration; may be null
};

inline constexpr std::uint32_t TPackageInfoVersion = 1;
inline constexpr const char* TPackageInfoSymbol = "TGenPackageInfo";

class TPackage {
 public:
  // Told of each unit as it starts (true) and as it shuts down (false).
  using UnitObserver = std::function<void(std::string_view unit, bool starting)>;

  // Opens the module and starts its units. Throws Exception when the file is not a module, has
  // no package table, or a table of another version, or when a unit's initialization throws
  // (the units started before it are shut down again and the module is closed).
  static std::unique_ptr<TPackage> Load(const std::filesystem::path& path,
                                        UnitObserver observer = {});
  ~TPackage();
  TPackage(const TPackage&) = delete;
  TPackage& operator=(const TPackage&) = delete;

  // Runs the package's registration once, attributing what it registers to this package.
  void Register();

  [[nodiscard]] const std::string& Name() const { return name_; }
  [[nodiscard]] const std::string& Description() const { return description_; }
  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }
  [[nodiscard]] std::vector<std::string> UnitNames() const;

 private:
  TPackage(std::filesystem::path path, void* handle, const TPackageInfo& info,
           UnitObserver observer);
  // Takes back the registrations and shuts down the started units, latest first.
  void Finalize() noexcept;

  std::filesystem::path path_;
  void* handle_;
  const TPackageInfo& info_;
  UnitObserver observer_;
  std::string name_;
  std::string description_;
  std::size_t started_ = 0;  // units whose initialization completed
  bool registered_ = false;
};

// The packages to load when none is named: those that $TGEN_PACKAGES lists (separated by ":"),
// else `installed` when it exists, else `fallback` when it exists, else none.
std::vector<std::filesystem::path> DefaultPackagePaths(const std::filesystem::path& installed,
                                                       const std::filesystem::path& fallback);

}  // namespace tgen
