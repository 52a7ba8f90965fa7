// The generator table: one row per sequence, keyed by GenID (the generator's GeneratorType)
// and Prefix, holding the last Suffix handed out and the row's lock (State, Who, Try, Time).
// Its layout is defined here once; the component, the tools and table creation on every store
// read it from here.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/store/dataset.h"
#include "platform/store/recordstore.h"
#include "platform/store/session.h"

namespace tgen {

namespace genfield {
inline constexpr const char* GenID = "GenID";
inline constexpr const char* Prefix = "Prefix";
inline constexpr const char* Suffix = "Suffix";
inline constexpr const char* Time = "Time";
inline constexpr const char* Try = "Try";
inline constexpr const char* State = "State";
inline constexpr const char* Who = "Who";
// The key that selects a sequence's row, as Locate takes it.
inline constexpr const char* KeyFields = "GenID;Prefix";
// The fields that tell whether a row is still as a client last wrote or saw it.
inline constexpr const char* WriteFields = "Suffix;Time;Who;State";
// The order in which the tools show a row.
inline constexpr std::array<const char*, 7> ListOrder = {GenID, Prefix, Suffix, State,
                                                         Who,   Try,    Time};
}  // namespace genfield

// The table a generator draws from unless told otherwise, on the default alias
// (TSession::DefaultAliasName).
inline constexpr const char* DefaultGeneratorTable = "GENTBL.DB";

// The fields in stored order: GenID, Try and State numbers; Prefix and Suffix texts of 20
// characters, Time and Who of 17.
const std::vector<TFieldDef>& GeneratorFields();
// The unique key, as indexes into GeneratorFields(): GenID and Prefix.
const std::vector<std::size_t>& GeneratorKey();

// What keeps an open table from being a generator table ("Prefix is missing, Try is not a
// number"); empty when its layout is right.
std::string GeneratorTableProblems(TTable& table);

// Creates a generator table through an alias of the process's session, or on a store directly.
// EDatabaseError when it exists or cannot be made.
void CreateGeneratorTable(const std::string& alias, const std::string& table);
// On the default alias (tGenAlias), makes the generator table when it does not exist yet, so
// that the first key needs no set-up; other aliases are left alone. Returns the folder or
// database the table was made in, when this call made it. EDatabaseError when it is missing
// and cannot be made.
std::optional<std::string> CreateDefaultGeneratorTable(const std::string& alias,
                                                       const std::string& table);
void CreateGeneratorTable(TStoreDriver& store, const std::string& location,
                          const std::string& table);
// Inside the application's transaction, in its own database (for keys drawn with GenerateIn):
// committed with that transaction.
void CreateGeneratorTable(TAppTransaction& transaction, const std::string& table);

}  // namespace tgen
