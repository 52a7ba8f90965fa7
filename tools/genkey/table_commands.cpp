// genkey table, aliases and tables: looking after generator tables.
#include <ostream>

#include "core/generator.h"
#include "platform/base/convert.h"
#include "platform/store/dataset.h"
#include "platform/store/session.h"
#include "tools/genkey/commands.h"

namespace tgen::genkey {

namespace {

std::unique_ptr<TTable> OpenTable(const StoreOptions& store) {
  auto table = std::make_unique<TTable>();
  table->SetDatabaseName(store.alias);
  table->SetTableName(store.table);
  table->Open();
  return table;
}

// The text of one field of a row, as the table lists it.
std::string Cell(TTable& table, const TRecord& row, const char* field) {
  const TField* f = table.FindField(field);
  if (f == nullptr || f->Index() >= row.size()) return "";
  const TFieldValue& v = row[f->Index()];
  if (const auto* text = std::get_if<std::string>(&v)) return *text;
  if (const auto* number = std::get_if<double>(&v)) return FormatNumber(*number);
  return "";
}

int List(TTable& table, std::ostream& out) {
  const std::vector<TRecord> rows = table.ReadAll();
  const auto& columns = genfield::ListOrder;
  for (const char* c : columns)
    out << c << (c == columns.back() ? '\n' : '\t');
  for (const TRecord& row : rows) {
    for (const char* c : columns)
      out << Cell(table, row, c) << (c == columns.back() ? '\n' : '\t');
  }
  return kOk;
}

bool LocateRow(TTable& table, const TableOptions& o, std::ostream& err) {
  if (table.Locate(genfield::KeyFields, {static_cast<double>(o.type), o.prefix})) return true;
  err << "genkey: no row for GenID " << o.type << " and prefix '" << o.prefix << "'\n";
  return false;
}

}  // namespace

int RunTable(const TableOptions& o, std::ostream& out, std::ostream& err) {
  try {
    if (o.action == "create") {
      CreateGeneratorTable(o.store.alias, o.store.table);
      out << "created generator table " << o.store.table << " in alias " << o.store.alias << '\n';
      return kOk;
    }
    const std::unique_ptr<TTable> table = OpenTable(o.store);
    if (o.action == "check") {
      const std::string problems = GeneratorTableProblems(*table);
      if (!problems.empty()) {
        err << "genkey: " << o.store.table << " is not a generator table: " << problems << '\n';
        return kFailure;
      }
      if (!table->HasUniqueKeyWithin(genfield::KeyFields)) {
        // Drawing stays safe without it (a row is only added after a look under the store's
        // lock), but any other program writing the table could add a second row.
        err << "genkey: " << o.store.table
            << " has no unique key on (GenID, Prefix); add one, e.g. CREATE UNIQUE INDEX ON "
               "the table (\"GenID\", \"Prefix\")\n";
        return kFailure;
      }
      out << o.store.table << " is a generator table\n";
      return kOk;
    }
    if (o.action == "list") return List(*table, out);
    if (!LocateRow(*table, o, err)) return kFailure;
    if (o.action == "show") {
      for (const char* c : genfield::ListOrder) {
        const TField* f = table->FindField(c);
        out << c << " = " << (f != nullptr ? f->AsString() : "") << '\n';
      }
      return kOk;
    }
    // unlock: free a row whose holder died.
    TTable& t = *table;
    t.Edit();
    const std::string holder = t.FieldByName(genfield::Who).FetchedAsString();
    const bool held = t.FieldByName(genfield::State).FetchedAsFloat() != 0;
    t.FieldByName(genfield::State).SetAsFloat(0);
    t.FieldByName(genfield::Try).SetAsFloat(0);
    t.Post();
    out << (held ? "unlocked the row held by " + holder : std::string("the row was not locked"))
        << '\n';
    return kOk;
  } catch (const std::exception& e) {
    err << "genkey: " << e.what() << '\n';
    return kFailure;
  }
}

int RunAliases(std::ostream& out, std::ostream& err) {
  try {
    const TSession& session = TSession::Default();
    for (const std::string& name : session.GetAliasNames()) {
      const TAlias a = session.FindAlias(name);
      out << a.Name << " = " << session.DisplayUri(a) << '\n';  // no passwords
    }
    return kOk;
  } catch (const std::exception& e) {
    err << "genkey: " << e.what() << '\n';
    return kFailure;
  }
}

int RunTables(const StoreOptions& o, std::ostream& out, std::ostream& err) {
  try {
    for (const std::string& t : TSession::Default().GetTableNames(o.alias))
      out << t << '\n';
    return kOk;
  } catch (const std::exception& e) {
    err << "genkey: " << e.what() << '\n';
    return kFailure;
  }
}

}  // namespace tgen::genkey
