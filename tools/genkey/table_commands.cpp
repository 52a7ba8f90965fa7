// genkey table, aliases and tables: looking after generator tables.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>

#include "core/generator.h"
#include "core/paradox.h"
#include "core/rowlock.h"
#include "core/timestamp.h"
#include "core/transfer.h"
#include "platform/base/charset.h"
#include "platform/base/convert.h"
#include "platform/base/loader.h"
#include "platform/store/dataset.h"
#include "platform/store/session.h"
#include "tools/genkey/commands.h"
#include "tools/genkey/json_lines.h"

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

// A span of time as people read it: 42s, 7m, 3h, 2d.
std::string Span(std::chrono::milliseconds t) {
  const long long s = std::max<long long>(t.count() / 1000, 0);
  if (s < 120) return std::to_string(s) + "s";
  if (s < 7200) return std::to_string(s / 60) + "m";
  if (s < 172800) return std::to_string(s / 3600) + "h";
  return std::to_string(s / 86400) + "d";
}

// A row as a JSON object, its fields' texts from `cell`: numbers as numbers, texts as UTF-8.
nlohmann::json RowObject(TTable& table, const std::function<std::string(const char*)>& cell) {
  nlohmann::json object;
  for (const char* c : genfield::ListOrder) {
    const std::string text = cell(c);
    const TField* f = table.FindField(c);
    if (f != nullptr && f->DataType() != TFieldType::ftString) {
      try {
        object[c] = std::stoll(text);
        continue;
      } catch (const std::exception&) {
        // Damaged: shown as the text it holds.
      }
    }
    object[c] = Utf8(text);
  }
  return object;
}

// Every row, or with `held` those marked held, with the time since their lock was taken.
int List(TTable& table, bool held, bool json, std::ostream& out) {
  if (json) {
    for (const TRecord& row : table.ReadAll()) {
      if (held && Cell(table, row, genfield::State) == "0") continue;
      nlohmann::json object = RowObject(table, [&](const char* c) { return Cell(table, row, c); });
      if (held) {
        const auto age = StampAge(Cell(table, row, genfield::Time));
        object["HeldSeconds"] =
            age ? nlohmann::json(static_cast<double>(age->count()) / 1000.0) : nlohmann::json();
      }
      WriteJsonLine(out, object);
    }
    return kOk;
  }
  const std::vector<TRecord> rows = table.ReadAll();
  // Ends by position: a column's name is compared by its text, never by its address (a
  // constant's text may lie at another address in another unit).
  const auto& columns = genfield::ListOrder;
  for (std::size_t i = 0; i < columns.size(); ++i)
    out << (i == 0 ? "" : "\t") << columns[i];
  out << (held ? "\tHeld\n" : "\n");
  for (const TRecord& row : rows) {
    if (held && Cell(table, row, genfield::State) == "0") continue;
    std::string line;
    for (const char* c : columns)
      line += Cell(table, row, c) + '\t';
    line.pop_back();
    if (held) {
      const auto age = StampAge(Cell(table, row, genfield::Time));
      line += '\t' + (age ? Span(*age) : std::string("?"));
    }
    out << line << '\n';
  }
  return kOk;
}

bool LocateRow(TTable& table, const TableOptions& o, std::ostream& err) {
  if (table.Locate(genfield::KeyFields, {static_cast<double>(o.type), o.prefix})) return true;
  err << "genkey: no row for GenID " << o.type << " and prefix '" << o.prefix << "'\n";
  return false;
}

// genkey table set: the next draw of the sequence hands out `o.next`. The row is written
// under the store's lock with the value before it (by the mask), a new stamp (so that no
// client's undo steps back over it) and made free; a missing row is made.
int SetNext(const TableOptions& o, std::ostream& out, std::ostream& err) {
  TGenMask mask;
  mask.ScanMask(o.mask);
  if (!mask.Fits(o.next)) {
    err << "genkey: '" << o.next << "' is no suffix of the mask '" << o.mask << "'\n";
    return kFailure;
  }
  bool first = false;
  mask.OnUnderFlow = [&first](TObject*, TmString) { first = true; };
  mask.SetSuffix(o.next);
  mask.Decrement();
  if (first) {
    err << "genkey: '" << o.next << "' is the first value of the mask: nothing comes before it "
        << "to store (a new sequence starts there by itself)\n";
    return kFailure;
  }
  const std::string before = mask.GetSuffix().str();
  const std::unique_ptr<TTable> table = OpenTable(o.store);
  if (const std::string problems = GeneratorTableProblems(*table); !problems.empty())
    throw Exception("Bad table format: " + problems, TErrorKind::kBadInput);
  const std::string stamp = GetTimeStamp();
  const TEditGuard edit(*table);
  if (!table->Locate(genfield::KeyFields, {static_cast<double>(o.type), o.prefix})) {
    table->Insert();
    table->FieldByName(genfield::GenID).SetAsFloat(o.type);
    table->FieldByName(genfield::Prefix).SetAsString(o.prefix);
    table->FieldByName(genfield::Suffix).SetAsString(before);
    rowlock::WriteFree(*table, stamp, stamp);
    table->Post();
    out << "made the row of GenID " << o.type << " prefix '" << o.prefix
        << "': the next key ends in " << o.next << '\n';
    return kOk;
  }
  table->Edit();
  if (rowlock::Held(*table, true)) {
    err << "genkey: the row is held by " << table->FieldByName(genfield::Who).FetchedAsString()
        << "; try again once it is free (or unlock it if its holder died)\n";
    return kFailure;
  }
  const std::string stored = table->FieldByName(genfield::Suffix).FetchedAsString();
  const std::optional<int> order = mask.CompareSuffixes(stored, before);
  if (!order) {
    err << "genkey: the row holds '" << stored << "', which does not fit the mask '" << o.mask
        << "'\n";
    return kFailure;
  }
  if (*order > 0 && !o.backwards) {
    err << "genkey: the row holds '" << stored << "': the next key would move back behind keys "
        << "handed out already (--backwards does it anyway)\n";
    return kFailure;
  }
  table->FieldByName(genfield::Suffix).SetAsString(before);
  rowlock::WriteFree(*table, stamp, stamp);
  table->Post();
  out << "set GenID " << o.type << " prefix '" << o.prefix << "': the row held " << stored
      << ", now " << before << "; the next key ends in " << o.next << '\n';
  return kOk;
}

// Old Paradox tables: the library that reads and writes them (with pxlib and the thirty
// libraries it needs) is loaded when a command first needs it, in a shared build.
const TParadoxFunctions& Paradox() {
#ifdef TGEN_PARADOX_LIBRARY
  using Functions = const TParadoxFunctions* (*)();
  static const TParadoxFunctions* functions = reinterpret_cast<Functions>(  // NOLINT: dlsym
      LoadFunction(TGEN_PARADOX_LIBRARY, TGEN_PARADOX_BUILT, "tgen_paradox_functions"))();
  return *functions;
#else
  return *tgen_paradox_functions();
#endif
}

int Export(const TableOptions& o, std::ostream& out) {
  const std::unique_ptr<TTable> table = OpenTable(o.store);
  if (o.format == "paradox") {
    if (o.file.empty()) throw Exception("A Paradox table is written to a file: give --output");
    Paradox().Write(o.file, ReadSequenceRows(*table));
    return kOk;
  }
  // Row by row, in constant memory however large the table.
  const auto write = [&](std::ostream& to) {
    const auto rows = [&](TRowWriter& writer) {
      ForEachSequenceRow(*table, [&writer](const TSequenceRow& r) { writer.Row(r); });
      writer.End();
    };
    if (o.format == "json") {
      rows(*JsonWriter(to));
    } else if (o.encoding == "cp1251") {
      rows(*CsvWriter(to));
    } else {
      TCharsetOutBuf utf8(to.rdbuf(), "UTF-8");
      std::ostream converted(&utf8);
      rows(*CsvWriter(converted));
      converted.flush();
    }
  };
  if (o.file.empty()) {
    write(out);
    return kOk;
  }
  // Written whole under a name of its own, then moved into place: no half-written file.
  const std::string partial = o.file + ".partial";
  {
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    if (!file) throw Exception("cannot write " + o.file + ": " + std::strerror(errno));
    write(file);
    file.close();
    if (!file) {
      const int error = errno;
      static_cast<void>(std::remove(partial.c_str()));
      throw Exception("cannot write " + o.file + ": " + std::strerror(error));
    }
  }
  if (std::rename(partial.c_str(), o.file.c_str()) != 0) {
    const int error = errno;
    static_cast<void>(std::remove(partial.c_str()));
    throw Exception("cannot write " + o.file + ": " + std::strerror(error));
  }
  return kOk;
}

std::string Describe(const TSequenceRow& r) {
  return "GenID " + std::to_string(r.GenID) + " prefix '" + r.Prefix + "' suffix '" + r.Suffix +
         "'";
}

// The rows of the file to import, read again for each pass over them: a CSV file a line at a
// time; JSON and Paradox files, and what is no regular file (a pipe), whole.
TRowSource ImportRows(const TableOptions& o) {
  if (o.format == "paradox") return RowsSource(Paradox().Read(o.file));
  if (o.format == "json") {  // UTF-8, whose texts the reader takes to the table's bytes
    std::ifstream file(o.file, std::ios::binary);
    return RowsSource(ReadJson(file));
  }
  TRowSource csv = [file = o.file,
                    utf8 = o.encoding == "utf-8"](const std::function<void(TSequenceRow&)>& visit) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Exception("cannot read " + file + ": " + std::strerror(errno));
    std::optional<TCharsetConverter> convert;
    if (utf8) convert.emplace("UTF-8", kTableCharset);
    ForEachCsvRow(in, visit, [&convert](std::string_view line, std::size_t number) {
      return convert ? convert->Convert(line, "line " + std::to_string(number)) : std::string(line);
    });
  };
  if (std::filesystem::is_regular_file(o.file)) return csv;
  // A pipe reads once: its rows are kept, and checked as a file's are when planned.
  std::vector<TSequenceRow> rows;
  csv([&rows](TSequenceRow& r) { rows.push_back(std::move(r)); });
  return RowsSource(std::move(rows));
}

int Import(const TableOptions& o, std::ostream& out, std::ostream& err) {
  std::ifstream file(o.file, std::ios::binary);
  if (!file) {
    err << "genkey: cannot read " << o.file << ": " << std::strerror(errno) << '\n';
    return kFailure;
  }
  const std::vector<std::string> names = TSession::Default().GetTableNames(o.store.alias);
  const bool missing = std::find(names.begin(), names.end(), o.store.table) == names.end();
  // Reads the file once, checking every row and comparing it with the table's (an empty one
  // yet to be made); a file that cannot be taken whole is told as such.
  const auto plan_with = [&](TTable* table) -> std::optional<TImportPlan> {
    try {
      return table != nullptr ? PlanImport(*table, ImportRows(o)) : PlanImport(ImportRows(o));
    } catch (const ETransferError& e) {
      err << "genkey: " << o.file << ": " << e.what() << "; nothing was imported\n";
    } catch (const EConvertError& e) {
      err << "genkey: " << o.file << ": " << e.what() << "; nothing was imported\n";
    }
    return std::nullopt;
  };
  std::optional<TImportPlan> planned;
  if (missing) {  // planned against the empty table it would be, before it is made
    planned = plan_with(nullptr);
    if (!planned) return kFailure;
    if (o.dry_run) {
      out << "would create generator table " << o.store.table << '\n';
    } else {
      CreateGeneratorTable(o.store.alias, o.store.table);
      out << "created generator table " << o.store.table << " in alias " << o.store.alias << '\n';
    }
  }
  TGenMask order;
  TImportOptions options{o.replace, o.backwards, nullptr};
  if (!o.mask.empty()) {
    try {
      order.ScanMask(o.mask);
    } catch (const Exception& e) {
      err << "genkey: --mask: " << e.Message() << "; nothing was imported\n";
      return kFailure;
    }
    options.Order = &order;
  }
  const std::unique_ptr<TTable> table = missing && o.dry_run ? nullptr : OpenTable(o.store);
  if (!missing) planned = plan_with(table.get());
  if (!planned) return kFailure;
  const TImportPlan& plan = *planned;
  int problems = 0;
  const std::string would = o.dry_run ? "would " : "";
  if (o.dry_run)
    ForEachAdded(plan,
                 [&](const TSequenceRow& r) { out << would << "add " << Describe(r) << '\n'; });
  for (const TImportPlan::TConflict& c : plan.Conflicts) {
    const std::string why = o.replace ? ReplaceProblem(c, options) : "";
    problems += !o.replace || !why.empty() ? 1 : 0;
    if (!o.dry_run && o.replace && why.empty()) continue;
    if (!o.replace || !why.empty()) {
      out << would << "refuse " << Describe(c.Imported) << " (the table holds suffix '"
          << c.Stored.Suffix << "'" << (why.empty() ? "" : "; " + why) << ")\n";
    } else {
      out << would << "replace " << Describe(c.Stored) << " -> '" << c.Imported.Suffix << "'\n";
    }
  }
  if (problems > 0) {
    err << "genkey: " << problems << " sequence(s) of the file are in the table already"
        << (o.replace ? " and may not be replaced" : "") << "; nothing was imported"
        << (o.replace ? " (--mask tells the order of suffixes; --backwards allows a move back)"
                      : " (--replace takes the file's rows)")
        << '\n';
    return kFailure;
  }
  if (o.dry_run) return kOk;
  try {
    ApplyImport(*table, plan, options);
  } catch (const ETransferError& e) {
    err << "genkey: " << e.what() << '\n';
    return kFailure;
  }
  for (const TImportPlan::TConflict& c : plan.Conflicts)
    out << "replaced " << Describe(c.Stored) << " -> '" << c.Imported.Suffix << "'\n";
  out << "imported " << plan.Read << " row(s): " << plan.Added() << " added, "
      << plan.Conflicts.size() << " replaced";
  if (plan.Same > 0) out << ", " << plan.Same << " in the table as they are";
  if (plan.Freed > 0) out << "; " << plan.Freed << " held in the file came in free";
  out << '\n';
  return kOk;
}

}  // namespace

int RunTable(const TableOptions& o, std::ostream& out, std::ostream& err) {
  return Guarded(err, [&]() -> int {
    if (o.action == "export") return Export(o, out);
    if (o.action == "import") return Import(o, out, err);
    if (o.action == "set") return SetNext(o, out, err);
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
    if (o.action == "list") return List(*table, o.held, o.json, out);
    if (!LocateRow(*table, o, err)) return kFailure;
    if (o.action == "show" && o.json) {
      WriteJsonLine(out, RowObject(*table, [&](const char* c) {
                      const TField* f = table->FindField(c);
                      return f != nullptr ? f->AsString() : std::string();
                    }));
      return kOk;
    }
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
    const bool held = rowlock::Held(t, true);
    rowlock::WriteFree(t);
    t.Post();
    out << (held ? "unlocked the row held by " + holder : std::string("the row was not locked"))
        << '\n';
    return kOk;
  });
}

int RunAliases(std::ostream& out, std::ostream& err) {
  return Guarded(err, [&]() -> int {
    const TSession& session = TSession::Default();
    for (const std::string& name : session.GetAliasNames()) {
      const TAlias a = session.FindAlias(name);
      out << a.Name << " = " << session.DisplayUri(a) << '\n';  // no passwords
    }
    return kOk;
  });
}

int RunTables(const StoreOptions& o, std::ostream& out, std::ostream& err) {
  return Guarded(err, [&]() -> int {
    for (const std::string& t : TSession::Default().GetTableNames(o.alias))
      out << t << '\n';
    return kOk;
  });
}

}  // namespace tgen::genkey
