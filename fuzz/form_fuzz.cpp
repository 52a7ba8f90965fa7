// Feeds arbitrary text to the stored-form reader, with generators and a root that publishes
// handlers. Whatever it reads must write out and read back to the very same text.
#include <stdlib.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/generator.h"
#include "fuzz/quiet_sink.h"
#include "platform/base/clock.h"
#include "platform/model/datamodule.h"
#include "platform/model/formstream.h"

namespace {

class TFuzzModule : public tgen::TDataModule {
 public:
  static constexpr std::string_view StaticClassName = "TFuzzModule";
  explicit TFuzzModule(tgen::TComponent* owner = nullptr) : TDataModule(owner) {
    PublishMethod("Prefixes",
                  tgen::TGenProcEvent([](tgen::TObject*, tgen::TmString& p) { p = "P"; }));
    PublishMethod("Overflow", tgen::TGOverFlowEvent([](tgen::TObject*, tgen::TmString) {}));
  }
  [[nodiscard]] std::string_view ClassName() const override { return StaticClassName; }
};

class TickingClock final : public tgen::Clock {
 public:
  [[nodiscard]] tgen::TDateTime Now() const override {
    return start_ + std::chrono::milliseconds(++ticks_);
  }

 private:
  // A fixed start: runs of one seed must not depend on the day (libFuzzer also learns the
  // stamps it sees compared, which would make each day's runs differ).
  tgen::TDateTime start_ = std::chrono::sys_days{std::chrono::year{2026} / 1 / 1};
  mutable std::atomic<long> ticks_{0};
};

const tgen::TClassRegistry& Classes() {
  static tgen::TClassRegistry classes;
  static const bool ready = [] {
    classes.RegisterClass<tgen::TDataModule>();
    classes.RegisterClass<TFuzzModule>();
    classes.RegisterClass<tgen::TGenerator>();
    return true;
  }();
  static_cast<void>(ready);
  return classes;
}

}  // namespace

// Generators read from forms open their tables: point the session at nothing, so that no run
// reaches a real store.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  setenv("TGEN_ALIASES", "/nonexistent/tgen-fuzz/aliases", 1);
  setenv("XDG_DATA_HOME", "/nonexistent/tgen-fuzz/data", 1);
  // Identities unique within the run only: the user's shared stamp file would carry one run's
  // stamps into the next.
  setenv("TGEN_STAMP_FILE", "/nonexistent/tgen-fuzz/stamp", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tgen::fuzz::Quiet();
  // Identities are stamps of distinct milliseconds; a clock that moves on at every reading
  // spares each generator the wait for the next one.
  static const tgen::ScopedClock ticking(std::make_shared<TickingClock>());
  static_cast<void>(ticking);

  const std::string text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<tgen::TComponent> root;
  try {
    root = tgen::ReadComponent(text, Classes());
  } catch (const tgen::EReadError&) {
    return 0;
  }
  const std::string written = tgen::WriteComponent(*root);
  const std::unique_ptr<tgen::TComponent> again = tgen::ReadComponent(written, Classes());
  if (tgen::WriteComponent(*again) != written) std::abort();
  return 0;
}
