// The session: the aliases through which tables are reached, and their tables.
//
// An alias names a store by URI: "sqlite:DIRECTORY" (a table is the file DIRECTORY/TABLE),
// "memory:NAME" (tables shared by the cursors of this process), a PostgreSQL connection
// string ("postgresql://user@host:port/db" or "host=... dbname=..."), and others that drivers
// register by scheme. Aliases come from a text file of "NAME = URI" lines ("#" starts a
// comment line; a relative directory is taken from the file's own folder), whose path is
// $TGEN_ALIASES, else $XDG_CONFIG_HOME/tgenerator/aliases, else ~/.config/tgenerator/aliases.
// The alias tGenAlias exists without any file: the SQLite directory
// $XDG_DATA_HOME/tgenerator/tGenAlias (else ~/.local/share/tgenerator/tGenAlias), unless the
// file names it otherwise. Alias names compare without regard to case. The file is read
// afresh on each call, so edits take effect at once. Thread-safe.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/recordstore.h"

namespace tgen {

struct TAlias {
  std::string Name;
  std::string Scheme;    // "sqlite", "memory", ...
  std::string Location;  // what follows the scheme: a directory, a name, a connection string
  std::string Folder;    // the folder of the alias file it was written in
};

// Reads the text of an alias file; `path` names it in messages, and its folder is each alias's
// Folder. A URI is "SCHEME:LOCATION"; a hierarchical one ("SCHEME://...") is its own location;
// text without a scheme that holds "=" is a key=value connection string, of the scheme that
// SetBareScheme named. Locations are as written (FindAlias has the store read them). The
// default alias is not added here. EDatabaseError for a malformed line. A name defined again
// takes the later line; `warnings`, where given, gets a sentence for each such name, with both
// lines.
std::vector<TAlias> ParseAliases(std::string_view text, const std::string& path,
                                 std::vector<std::string>* warnings = nullptr);

class TSession {
 public:
  static constexpr const char* DefaultAliasName = "tGenAlias";

  // The session of the process. It knows no store until one is registered: each store's
  // library has a routine for it (RegisterSqliteStore, ...), and the generator component
  // registers all of them (UseStandardStores).
  static TSession& Default();

  // Makes `driver` serve the URIs of `scheme`.
  void RegisterDriver(const std::string& scheme, std::shared_ptr<TStoreDriver> driver);
  // The store that serves `scheme`, or null.
  [[nodiscard]] std::shared_ptr<TStoreDriver> DriverFor(const std::string& scheme) const {
    return FindDriver(scheme);
  }
  // Names the scheme whose store takes key=value connection strings written without a scheme
  // ("host=db dbname=keys"); until a store names one, such a line is malformed.
  static void SetBareScheme(const std::string& scheme);

  // The path of the alias file that is read (it need not exist).
  [[nodiscard]] static std::string AliasFilePath();
  // The folder of the default alias.
  [[nodiscard]] static std::string DefaultAliasDirectory();
  // What is wrong with the alias file, for people: a malformed line, names defined twice.
  [[nodiscard]] static std::vector<std::string> AliasFileWarnings();

  [[nodiscard]] std::vector<std::string> GetAliasNames() const;
  // The alias, its location as its store reads it (TStoreDriver::ResolveLocation). A URI or
  // connection string of a registered store ("sqlite:/srv/keys", "postgresql://db/keys") may
  // stand in an alias's place. EDatabaseError for an unknown alias or a malformed alias file;
  // the default alias is still found in a malformed file that does not name it.
  [[nodiscard]] TAlias FindAlias(const std::string& name) const;
  // What an alias names, as it may be shown: "sqlite:/srv/keys", a connection string without
  // its password. An alias of a store that is not registered shows its URI as written.
  [[nodiscard]] std::string DisplayUri(const TAlias& alias) const;
  [[nodiscard]] std::vector<std::string> GetTableNames(const std::string& alias) const;

  [[nodiscard]] std::unique_ptr<TTableDriver> OpenTable(const std::string& alias,
                                                        const std::string& table) const;
  // Creates the table unless the alias lists it already, reading the alias file once. Returns
  // the alias when this call made the table; nothing when it existed (or another client made
  // it first). EDatabaseError when it can be neither found nor made.
  std::optional<TAlias> CreateTableIfMissing(const std::string& alias, const std::string& table,
                                             const std::vector<TFieldDef>& fields,
                                             const std::vector<std::size_t>& unique_key) const;
  // Creates a table through the alias's store (TStoreDriver::CreateTable).
  void CreateTable(const std::string& alias, const std::string& table,
                   const std::vector<TFieldDef>& fields,
                   const std::vector<std::size_t>& unique_key) const;

 private:
  [[nodiscard]] static std::vector<TAlias> ReadAliases();
  // The store registered for `scheme`, or null.
  [[nodiscard]] std::shared_ptr<TStoreDriver> FindDriver(const std::string& scheme) const;
  // The alias's store; EDatabaseError when none is registered for its scheme.
  [[nodiscard]] std::shared_ptr<TStoreDriver> Driver(const TAlias& alias) const;

  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<TStoreDriver>> drivers_;
};

}  // namespace tgen
