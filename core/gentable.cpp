#include "core/gentable.h"

#include "platform/base/tmstring.h"

namespace tgen {

const std::vector<TFieldDef>& GeneratorFields() {
  using enum TFieldType;
  static const std::vector<TFieldDef> fields = {
      {genfield::GenID, ftFloat, 8},    {genfield::Prefix, ftString, 21},
      {genfield::Suffix, ftString, 21}, {genfield::Time, ftString, 18},
      {genfield::Try, ftFloat, 8},      {genfield::State, ftFloat, 8},
      {genfield::Who, ftString, 18},
  };
  return fields;
}

const std::vector<std::size_t>& GeneratorKey() {
  static const std::vector<std::size_t> key = {0, 1};
  return key;
}

std::string GeneratorTableProblems(TTable& table) {
  std::string problems;
  for (const TFieldDef& e : GeneratorFields()) {
    const TField* f = table.FindField(e.Name);
    std::string problem;
    if (f == nullptr) {
      problem = e.Name + " is missing";
    } else if (f->DataType() != e.DataType) {
      problem =
          e.Name + (e.DataType == TFieldType::ftFloat ? " is not a number" : " is not a text");
    } else if (e.DataType == TFieldType::ftString && f->DataSize() != e.DataSize) {
      // Numbers may be of any width; texts must hold exactly what the keys need.
      problem = e.Name + " does not hold " + std::to_string(e.DataSize - 1) + " characters";
    }
    if (!problem.empty()) problems += (problems.empty() ? "" : ", ") + problem;
  }
  return problems;
}

void CreateGeneratorTable(const std::string& alias, const std::string& table) {
  TSession::Default().CreateTable(alias, table, GeneratorFields(), GeneratorKey());
}

std::optional<std::string> CreateDefaultGeneratorTable(const std::string& alias,
                                                       const std::string& table) {
  if (CompareText(alias, TSession::DefaultAliasName) != 0) return std::nullopt;
  const std::optional<TAlias> made =
      TSession::Default().CreateTableIfMissing(alias, table, GeneratorFields(), GeneratorKey());
  if (!made) return std::nullopt;
  return made->Location;
}

void CreateGeneratorTable(TStoreDriver& store, const std::string& location,
                          const std::string& table) {
  store.CreateTable(location, table, GeneratorFields(), GeneratorKey());
}

void CreateGeneratorTable(TAppTransaction& transaction, const std::string& table) {
  transaction.CreateTable(table, GeneratorFields(), GeneratorKey());
}

}  // namespace tgen
