// Feeds arbitrary bytes to the readers of outside configuration: the alias file, the masking
// of passwords in connection strings, and the reading of a declared column type.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/pgstore.h"
#include "platform/recordstore.h"
#include "platform/session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    for (const tgen::TAlias& alias : tgen::ParseAliases(text, "/etc/tgenerator/aliases")) {
      if (alias.Name.empty() || alias.Scheme.empty()) std::abort();
    }
  } catch (const tgen::EDatabaseError&) {
  }
  // Masking twice changes nothing more.
  const std::string hidden = tgen::HidePassword(text);
  if (tgen::HidePassword(hidden) != hidden) std::abort();
  static_cast<void>(tgen::FieldDefFromDeclaredType("F", text));
  return 0;
}
