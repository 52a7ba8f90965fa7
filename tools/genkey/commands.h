// The commands of genkey. Each command is a function of its options and two output streams,
// so that it can be run and tested without the command-line parser; main() only parses.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/checkchar.h"
#include "core/generator.h"
#include "core/gentable.h"

namespace tgen::genkey {

// Exit codes of the tool.
enum ExitCode : int {
  kOk = 0,
  kFailure = 1,        // the work failed: a mask that does not parse, a value refused, ...
  kUsage = 2,          // the command line itself was wrong
  kInterrupted = 128,  // plus the signal (SIGINT, SIGTERM) that ended the drawing early
};

// Runs a command's work `body`: what it returns, or kFailure with the reason told on `err`
// as "genkey: REASON" when it throws.
template <class Body>
int Guarded(std::ostream& err, Body&& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    err << "genkey: " << e.what() << '\n';
    return kFailure;
  }
}

// The commands of the shell, one a line on its input: how each is written, and what it does.
struct ShellCommand {
  const char* usage;
  const char* help;
};
inline constexpr std::array<ShellCommand, 7> kShellCommands = {{
    {"next [N]", "prints N keys"},
    {"batch N", "draws N keys in one lock cycle and prints them"},
    {"undo", "hands the last key back and prints the value before it"},
    {"proc TEXT", "sets the text of the '@' places"},
    {"date YYYY-MM-DD", "sets the date whose period the next draws take"},
    {"who", "prints the generator's identity"},
    {"quit", "ends the shell"},
}};

struct PreviewOptions {
  std::string mask;
  std::optional<std::string> start;
  std::optional<std::string> end;
  std::optional<std::string> from;  // the suffix of the first value shown
  std::optional<std::string> proc;  // the text for the user-procedure places
  long long count = 10;
  bool down = false;
  bool json = false;  // {"value": ...} a line
};

// Prints the first value and count - 1 values after it, one a line, stepping up (or down).
int RunPreview(const PreviewOptions& options, std::ostream& out, std::ostream& err);

// Where a generator table is: an alias and a table name.
struct StoreOptions {
  std::string alias = TSession::DefaultAliasName;
  std::string table = DefaultGeneratorTable;
};

struct DrawOptions {
  StoreOptions store;
  std::int32_t type = 0;
  std::string mask;
  std::optional<std::string> start;
  std::optional<std::string> end;
  std::optional<std::string> proc;
  long long count = 1;
  long long batch = 1;               // keys drawn per lock cycle
  std::int32_t cache = 0;            // the generator's CacheSize
  std::string lock = "transaction";  // or "fields": the generator's LockMode
  std::int32_t max_wait = 30;        // seconds a draw waits for a busy row
  std::string on_overflow = "stop";  // past the end: "stop" (fail) or "restart"
  std::string check = "none";        // the check characters appended: luhn, mod97, mod37, damm
  std::string period;                // the format that fills the '@' places from the date
  std::int32_t fiscal_start = 1;     // the month fiscal years begin in
  std::optional<std::string> date;   // YYYY-MM-DD: the draw's date; else today
  std::string charset;               // the shell's input, converted to the table's; "": bytes
  bool json = false;                 // answers as JSON objects, a line each
};

// A generator set up from `options` as next and shell draw with it, its table not opened yet:
// the mask, its bounds, the '@' text, the period and the check. Null after a refusal, told on
// `err` as "genkey: ...".
std::unique_ptr<TGenerator> ConfigureGenerator(const DrawOptions& options, std::ostream& err);
// Runs every check of ConfigureGenerator, and that the prefix and suffix fit a generator
// table's fields; succeeds when they all pass.
int RunCheck(const DrawOptions& options, std::ostream& out, std::ostream& err);
// Draws `count` keys with one generator, one a line.
int RunNext(const DrawOptions& options, std::ostream& out, std::ostream& err);
// One generator driven by the commands of kShellCommands on `in`.
int RunShell(const DrawOptions& options, std::istream& in, std::ostream& out, std::ostream& err);

struct TableOptions {
  StoreOptions store;
  std::string action;  // create, check, list, show, unlock, set, export, import
  std::int32_t type = 0;
  std::string prefix;
  std::string format;  // export and import: csv, json or paradox
  std::string file;    // export: the output (empty: standard output); import: the input
  bool dry_run = false;
  bool replace = false;
  bool backwards = false;          // import and set: a sequence may move back
  std::string mask;                // import and set: tells the order of suffixes
  std::string next;                // set: the suffix the next draw hands out
  std::string encoding = "utf-8";  // export and import of CSV: utf-8 or cp1251
  bool held = false;               // list: only the rows marked held, and for how long
  bool json = false;               // list and show: a JSON object a row
};

int RunTable(const TableOptions& options, std::ostream& out, std::ostream& err);
int RunAliases(std::ostream& out, std::ostream& err);
int RunTables(const StoreOptions& options, std::ostream& out, std::ostream& err);

struct FormOptions {
  std::string file;
  std::optional<std::string> component;
  std::string action;  // next, undo, shell, show
  long long count = 1;
  std::optional<std::string> lock;         // "transaction" or "fields"; else the form's LockMode
  std::optional<std::string> proc;         // the text of the '@' places
  std::optional<std::string> on_overflow;  // else the sequence restarts, as a form's does
  std::optional<std::string> check;        // else the form's CheckMethod
  std::optional<std::string> date;         // YYYY-MM-DD: the draw's date; else today
  std::string charset;                     // the shell's input, as in DrawOptions
  bool json = false;                       // answers as JSON objects, a line each
};

struct VerifyOptions {
  std::string check;
  std::vector<std::string> keys;
  bool json = false;  // {"key": ..., "ok": ...} a line
};

// Prints "KEY ok" or "KEY bad" a line; succeeds when every key is ok.
int RunVerify(const VerifyOptions& options, std::ostream& out, std::ostream& err);

struct ReferenceOptions {
  bool grouped = false;
  std::vector<std::string> keys;
};

// Prints the ISO 11649 creditor reference of each key, a line each.
int RunReference(const ReferenceOptions& options, std::ostream& out, std::ostream& err);

// A generator read from a stored form file.
int RunForm(const FormOptions& options, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace tgen::genkey
