#include "core/stores.h"

#include <mutex>

#include "platform/store/memorystore.h"
#include "platform/store/pgstore.h"
#include "platform/store/sqlitestore.h"

namespace tgen {

void UseStandardStores() {
  static std::once_flag registered;
  std::call_once(registered, [] {
    RegisterSqliteStore();
    RegisterPgStore();
    RegisterMemoryStore();
  });
}

namespace {
// A program that links the generator can name every alias from its start.
[[maybe_unused]] const bool kStandardStores = (UseStandardStores(), true);
}  // namespace

}  // namespace tgen
