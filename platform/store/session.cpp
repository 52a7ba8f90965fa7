#include "platform/store/session.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/base/convert.h"
#include "platform/base/tmstring.h"

namespace tgen {

namespace {

namespace fs = std::filesystem;

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

std::string Home() {
  return EnvOr("HOME", "/tmp");
}

// The scheme of key=value connection strings written without one (SetBareScheme); made on
// first use, since stores register from static initializers of other libraries.
struct BareSchemeSlot {
  std::mutex mutex;
  std::string scheme;
};
BareSchemeSlot& Bare() {
  static BareSchemeSlot slot;
  return slot;
}

std::string BareScheme() {
  BareSchemeSlot& slot = Bare();
  const std::lock_guard lock(slot.mutex);
  return slot.scheme;
}

// Whether `text` is a URI scheme: a letter, then letters, digits, "+", "-" or ".".
bool IsScheme(std::string_view text) {
  if (text.empty() || std::isalpha(static_cast<unsigned char>(text[0])) == 0) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
  });
}

// Splits "scheme:location"; "scheme://..." keeps the whole text as the location.
TAlias ParseUri(std::string name, const std::string& uri, const fs::path& folder) {
  TAlias alias{std::move(name), "", "", folder.string()};
  const std::size_t colon = uri.find(':');
  if (colon == std::string::npos || !IsScheme(std::string_view(uri).substr(0, colon))) {
    if (uri.find('=') != std::string::npos) {
      alias.Scheme = BareScheme();
      alias.Location = uri;
    }
    return alias;
  }
  alias.Scheme = uri.substr(0, colon);
  std::transform(alias.Scheme.begin(), alias.Scheme.end(), alias.Scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  alias.Location = uri.compare(colon, 3, "://") == 0 ? uri : uri.substr(colon + 1);
  return alias;
}

}  // namespace

TSession& TSession::Default() {
  static TSession session;
  return session;
}

void TSession::SetBareScheme(const std::string& scheme) {
  BareSchemeSlot& slot = Bare();
  const std::lock_guard lock(slot.mutex);
  slot.scheme = scheme;
}

void TSession::RegisterDriver(const std::string& scheme, std::shared_ptr<TStoreDriver> driver) {
  const std::lock_guard lock(mutex_);
  drivers_[scheme] = std::move(driver);
}

std::string TSession::AliasFilePath() {
  const char* explicit_path = std::getenv("TGEN_ALIASES");
  if (explicit_path != nullptr && *explicit_path != '\0') return explicit_path;
  return EnvOr("XDG_CONFIG_HOME", Home() + "/.config") + "/tgenerator/aliases";
}

std::string TSession::DefaultAliasDirectory() {
  return EnvOr("XDG_DATA_HOME", Home() + "/.local/share") + "/tgenerator/" + DefaultAliasName;
}

std::vector<TAlias> ParseAliases(std::string_view text, const std::string& path,
                                 std::vector<std::string>* warnings) {
  std::vector<TAlias> aliases;
  std::vector<int> lines;  // where each of `aliases` was defined
  const fs::path base = fs::path(path).parent_path();
  int number = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = Trim(text.substr(start, end - start));
    start = end + 1;
    ++number;
    if (line.empty() || line[0] == '#') continue;
    const std::size_t eq = line.find('=');
    const std::string name = eq == std::string::npos ? "" : Trim(line.substr(0, eq));
    const std::string uri = eq == std::string::npos ? "" : Trim(line.substr(eq + 1));
    TAlias alias = ParseUri(name, uri, base);
    if (name.empty() || name.find_first_of(" \t") != std::string::npos || alias.Scheme.empty()) {
      throw EDatabaseError("Alias file " + path + ", line " + std::to_string(number) +
                           ": expected NAME = SCHEME:LOCATION");
    }
    const auto same = [&](const TAlias& a) { return CompareText(a.Name, name) == 0; };
    const auto it = std::find_if(aliases.begin(), aliases.end(), same);
    if (it != aliases.end()) {
      const auto at = static_cast<std::size_t>(it - aliases.begin());
      if (warnings != nullptr) {
        warnings->push_back("Alias file " + path + ": " + name + " is defined on line " +
                            std::to_string(lines[at]) + " and again on line " +
                            std::to_string(number) + ", which is used");
      }
      *it = std::move(alias);  // the later line wins
      lines[at] = number;
    } else {
      aliases.push_back(std::move(alias));
      lines.push_back(number);
    }
  }
  return aliases;
}

std::vector<TAlias> TSession::ReadAliases() {
  const std::string path = AliasFilePath();
  std::vector<TAlias> aliases;
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::ostringstream text;
    text << in.rdbuf();
    aliases = ParseAliases(text.str(), path);
  }
  const bool has_default = std::any_of(aliases.begin(), aliases.end(), [](const TAlias& a) {
    return CompareText(a.Name, DefaultAliasName) == 0;
  });
  if (!has_default) {
    aliases.insert(aliases.begin(),
                   TAlias{DefaultAliasName, "sqlite", DefaultAliasDirectory(), ""});
  }
  return aliases;
}

std::vector<std::string> TSession::GetAliasNames() const {
  std::vector<std::string> names;
  for (const TAlias& a : ReadAliases())
    names.push_back(a.Name);
  return names;
}

std::vector<std::string> TSession::AliasFileWarnings() {
  const std::string path = AliasFilePath();
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<std::string> warnings;
  try {
    ParseAliases(text.str(), path, &warnings);
  } catch (const EDatabaseError& e) {
    warnings.push_back(e.Message());
  }
  return warnings;
}

TAlias TSession::FindAlias(const std::string& name) const {
  std::vector<TAlias> aliases;
  try {
    aliases = ReadAliases();
  } catch (const EDatabaseError&) {
    // One bad line keeps every alias of the file out of use, but the built-in default, where
    // the file does not name it (a line of it could be the bad one): it lies elsewhere.
    std::ifstream in(AliasFilePath(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string lower = text.str();
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (CompareText(name, DefaultAliasName) != 0 || lower.find("tgenalias") != std::string::npos)
      throw;
    aliases = {TAlias{DefaultAliasName, "sqlite", DefaultAliasDirectory(), ""}};
  }
  for (TAlias& a : aliases) {
    if (CompareText(a.Name, name) != 0) continue;
    if (const std::shared_ptr<TStoreDriver> driver = FindDriver(a.Scheme))
      a.Location = driver->ResolveLocation(a.Location, a.Folder);
    return a;
  }
  // A URI or connection string in an alias's place names its store directly.
  if (name.find_first_of(":=") != std::string::npos) {
    TAlias a = ParseUri(name, name, fs::current_path());
    if (const std::shared_ptr<TStoreDriver> driver = FindDriver(a.Scheme)) {
      a.Location = driver->ResolveLocation(a.Location, a.Folder);
      return a;
    }
  }
  throw EDatabaseError("Unknown alias " + name + " (aliases are read from " + AliasFilePath() + ")",
                       TErrorKind::kBadInput);
}

std::string TSession::DisplayUri(const TAlias& alias) const {
  const std::shared_ptr<TStoreDriver> driver = FindDriver(alias.Scheme);
  return driver ? driver->DisplayUri(alias.Scheme, alias.Location)
                : alias.Scheme + ':' + alias.Location;
}

std::shared_ptr<TStoreDriver> TSession::FindDriver(const std::string& scheme) const {
  const std::lock_guard lock(mutex_);
  const auto it = drivers_.find(scheme);
  return it != drivers_.end() ? it->second : nullptr;
}

std::shared_ptr<TStoreDriver> TSession::Driver(const TAlias& alias) const {
  std::shared_ptr<TStoreDriver> driver = FindDriver(alias.Scheme);
  if (!driver) {
    throw EDatabaseError("Alias " + alias.Name + ": no store for URIs of the kind '" +
                         alias.Scheme + ":'");
  }
  return driver;
}

std::vector<std::string> TSession::GetTableNames(const std::string& alias) const {
  const TAlias a = FindAlias(alias);
  return Driver(a)->TableNames(a.Location);
}

std::optional<TAlias> TSession::CreateTableIfMissing(
    const std::string& alias, const std::string& table, const std::vector<TFieldDef>& fields,
    const std::vector<std::size_t>& unique_key) const {
  CheckTableName(table);
  const TAlias a = FindAlias(alias);
  const std::shared_ptr<TStoreDriver> driver = Driver(a);
  const std::vector<std::string> tables = driver->TableNames(a.Location);
  if (std::find(tables.begin(), tables.end(), table) != tables.end()) return std::nullopt;
  try {
    driver->CreateTable(a.Location, table, fields, unique_key);
  } catch (const EDatabaseError&) {
    // Made by another client in the meantime? Then it is listed now.
    const std::vector<std::string> now = driver->TableNames(a.Location);
    if (std::find(now.begin(), now.end(), table) != now.end()) return std::nullopt;
    throw;
  }
  return a;
}

std::unique_ptr<TTableDriver> TSession::OpenTable(const std::string& alias,
                                                  const std::string& table) const {
  CheckTableName(table);
  const TAlias a = FindAlias(alias);
  return Driver(a)->OpenTable(a.Location, table);
}

void TSession::CreateTable(const std::string& alias, const std::string& table,
                           const std::vector<TFieldDef>& fields,
                           const std::vector<std::size_t>& unique_key) const {
  CheckTableName(table);
  const TAlias a = FindAlias(alias);
  Driver(a)->CreateTable(a.Location, table, fields, unique_key);
}

}  // namespace tgen
