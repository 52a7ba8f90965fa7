// Feeds arbitrary bytes to the readers of outside configuration: the alias file, the masking
// of passwords in connection strings, and the reading of a declared column type.
#include <libpq-fe.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/store/pgstore.h"
#include "platform/store/recordstore.h"
#include "platform/store/session.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// When libpq reads `text` as a connection string, it must read `hidden` as one too, with every
// secret option it sets shown as "***".
void RequireSecretsHidden(const std::string& text, const std::string& hidden) {
  if (text.find('\0') != std::string::npos) return;
  char* error = nullptr;
  PQconninfoOption* original = PQconninfoParse(text.c_str(), &error);
  PQfreemem(error);
  if (original == nullptr) return;
  PQconninfoOption* masked = PQconninfoParse(hidden.c_str(), &error);
  PQfreemem(error);
  Require(masked != nullptr);
  for (PQconninfoOption *o = original, *m = masked; o->keyword != nullptr; ++o, ++m) {
    Require(std::strcmp(o->keyword, m->keyword) == 0);
    const bool secret = o->dispchar != nullptr && std::strchr(o->dispchar, '*') != nullptr;
    if (secret && o->val != nullptr) Require(m->val != nullptr && std::strcmp(m->val, "***") == 0);
  }
  PQconninfoFree(original);
  PQconninfoFree(masked);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Key=value connection strings without a scheme are the PostgreSQL store's.
  static const bool registered = (tgen::RegisterPgStore(), true);
  static_cast<void>(registered);
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    for (const tgen::TAlias& alias : tgen::ParseAliases(text, "/etc/tgenerator/aliases")) {
      Require(!alias.Name.empty() && !alias.Scheme.empty());
      const std::string hidden = tgen::HidePassword(alias.Location);
      Require(tgen::HidePassword(hidden) == hidden);
      RequireSecretsHidden(alias.Location, hidden);
    }
  } catch (const tgen::EDatabaseError&) {
  }
  // Masking twice changes nothing more.
  const std::string hidden = tgen::HidePassword(text);
  Require(tgen::HidePassword(hidden) == hidden);
  RequireSecretsHidden(text, hidden);
  static_cast<void>(tgen::FieldDefFromDeclaredType("F", text));
  return 0;
}
