// A notice sink for fuzz campaigns: it counts notices and forgets them, so that millions of
// runs keep no memory of what they were told.
#pragma once

#include <atomic>
#include <memory>
#include <string_view>

#include "platform/base/notice.h"

namespace tgen::fuzz {

class CountingNoticeSink final : public NoticeSink {
 public:
  int MessageBox(std::string_view /*text*/, std::string_view /*caption*/,
                 unsigned /*flags*/) override {
    ++count_;
    return 1;
  }
  void ShowMessage(std::string_view /*text*/) override { ++count_; }
  [[nodiscard]] long Count() const { return count_; }

 private:
  std::atomic<long> count_{0};
};

// Installs a counting sink for the whole run, once.
inline void Quiet() {
  static const ScopedNoticeSink quiet(std::make_shared<CountingNoticeSink>());
  static_cast<void>(quiet);
}

}  // namespace tgen::fuzz
