// genkey: draws key values from masks and looks after generator tables.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <clocale>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/charset.h"
#include "platform/base/notice.h"
#include "platform/store/session.h"
#include "tools/genkey/commands.h"

namespace {

using tgen::genkey::DrawOptions;
using tgen::genkey::FormOptions;
using tgen::genkey::PreviewOptions;
using tgen::genkey::ReferenceOptions;
using tgen::genkey::StoreOptions;
using tgen::genkey::TableOptions;
using tgen::genkey::VerifyOptions;

constexpr const char* kLockHelp =
    "How the sequence's row is guarded: 'transaction' (one store transaction and one commit a "
    "key; a killed client's lock ends with it) or 'fields' (the lock kept in the row's State, "
    "Who, Try and Time fields, as components do by default)";

constexpr const char* kOverflowHelp =
    "Past the end of the sequence: 'stop' fails the draw and names the sequence's last key; "
    "'restart' starts it again from its start value, handing out its keys again";

constexpr const char* kCheckHelp =
    "Check characters appended to every key: 'luhn' or 'damm' (a digit), 'mod97' (two digits, "
    "ISO 7064 MOD 97-10) or 'mod37' (a digit or letter, ISO 7064 MOD 37-36), over the key's "
    "letters and digits; not stored, so clients without one draw from the same sequence";

constexpr const char* kPeriodHelp =
    "Fill the mask's '@' places from the draw's date, each period a sequence of its own: YYYY, "
    "YY (year), MM (month), DD (day), Q (quarter), BBBB, BB (year the fiscal year begins), "
    "EEEE, EE (year it ends); other characters as written. 'INV-@@@@-####' with 'YYYY' draws "
    "INV-2026-0001 ... and starts again in 2027";

constexpr const char* kDateHelp =
    "The draw's date, YYYY-MM-DD (the document's date: an invoice dated 31 December belongs to "
    "the old year); default: today";

constexpr const char* kJsonHelp =
    "Print for programs: one JSON object a line, with named fields (UTF-8 text)";

constexpr const char* kEncodingHelp =
    "The text of a CSV file: 'utf-8' (a byte-order mark is taken on import) or 'cp1251', the "
    "Windows-1251 bytes the table holds. JSON is always UTF-8";

std::vector<std::string> CheckNames() {
  return {tgen::kCheckNames.begin(), tgen::kCheckNames.end()};
}

void AddStoreOptions(CLI::App* cmd, StoreOptions& o) {
  cmd->add_option("-a,--alias", o.alias, "Alias of the generator table's store")
      ->capture_default_str();
  cmd->add_option("-t,--table", o.table, "Name of the generator table")->capture_default_str();
}

// Whole numbers from `least` up, refused in a sentence (CLI11's own range check names a
// 300-digit upper bound).
CLI::Validator AtLeast(long long least) {
  return {[least](std::string& text) -> std::string {
            long long n = 0;
            if (CLI::detail::lexical_cast(text, n) && n >= least) return {};
            return "must be a whole number, at least " + std::to_string(least) + ", not '" + text +
                   "'";
          },
          "N>=" + std::to_string(least)};
}

// What makes the keys: the mask, its bounds and what fills and follows it. next, shell and
// check take them, so that check runs every check a draw runs.
void AddKeyOptions(CLI::App* cmd, DrawOptions& o) {
  cmd->add_option("-m,--mask", o.mask, "The mask, e.g. 'INV-[AB]##'")->required();
  cmd->add_option("-s,--start", o.start, "Start value of the counting part");
  cmd->add_option("-e,--end", o.end, "End value of the counting part");
  cmd->add_option("-p,--proc", o.proc, "Text for the user-procedure places ('@')");
  cmd->add_option("--check", o.check, kCheckHelp)
      ->check(CLI::IsMember(CheckNames()))
      ->capture_default_str();
  cmd->add_option("--period", o.period, kPeriodHelp);
  cmd->add_option("--fiscal-start", o.fiscal_start, "The month (1-12) fiscal years begin in")
      ->check(CLI::Range(1, 12))
      ->capture_default_str();
  cmd->add_option("--date", o.date, kDateHelp);
}

void AddDrawOptions(CLI::App* cmd, DrawOptions& o) {
  AddStoreOptions(cmd, o.store);
  cmd->add_flag("--json", o.json, kJsonHelp);
  cmd->add_option("--type", o.type, "GeneratorType: the GenID of the sequence's row")
      ->capture_default_str();
  AddKeyOptions(cmd, o);
  cmd->add_option("-l,--lock", o.lock, kLockHelp)
      ->check(CLI::IsMember({"transaction", "fields"}))
      ->capture_default_str();
  cmd->add_option("-w,--max-wait", o.max_wait, "Seconds a draw waits for a busy row, then fails")
      ->check(AtLeast(0))
      ->capture_default_str();
  cmd->add_option("--on-overflow", o.on_overflow, kOverflowHelp)
      ->check(CLI::IsMember({"stop", "restart"}))
      ->capture_default_str();
}

CLI::App* AddPreview(CLI::App& app, PreviewOptions& o) {
  CLI::App* cmd =
      app.add_subcommand("preview", "Print the values a mask steps through, one a line");
  cmd->add_option("-m,--mask", o.mask, "The mask, e.g. 'INV-[AB]##'")->required();
  cmd->add_option("-s,--start", o.start, "Start value of the counting part (suffix)");
  cmd->add_option("-e,--end", o.end, "End value of the counting part");
  cmd->add_option("-f,--from", o.from, "Suffix of the first value (default: the start value)");
  cmd->add_option("-n,--count", o.count, "How many values to print")
      ->check(AtLeast(0))
      ->capture_default_str();
  cmd->add_flag("-d,--down", o.down, "Step down instead of up");
  cmd->add_flag("--json", o.json, kJsonHelp);
  cmd->add_option("-p,--proc", o.proc, "Text for the user-procedure places ('@')");
  cmd->footer(
      "Mask symbols: [..] a character from a set, # digit, $ letter, & digit or letter, @ "
      "user-procedure place; any other character is fixed.\nValues are printed one a line, "
      "bytes as they are; past the end the sequence restarts, below the start it wraps.");
  return cmd;
}

CLI::App* AddCheck(CLI::App& app, DrawOptions& o) {
  CLI::App* cmd = app.add_subcommand(
      "check", "Check a mask and its values as a draw would, without a table; exit 1 if refused");
  AddKeyOptions(cmd, o);
  return cmd;
}

CLI::App* AddReference(CLI::App& app, ReferenceOptions& o) {
  CLI::App* cmd = app.add_subcommand(
      "reference", "Print the creditor reference (ISO 11649, RF...) made from each key");
  cmd->add_flag("-g,--grouped", o.grouped, "In groups of four, as on a payment slip");
  cmd->add_option("KEY", o.keys, "Keys: their letters and digits, at most 21")->required();
  return cmd;
}

CLI::App* AddVerify(CLI::App& app, VerifyOptions& o) {
  CLI::App* cmd = app.add_subcommand(
      "verify", "Check keys against their check characters; exit 1 if any is bad");
  cmd->add_option("--check", o.check, kCheckHelp)->check(CLI::IsMember(CheckNames()))->required();
  cmd->add_option("KEY", o.keys, "Keys with their check characters")->required();
  cmd->add_flag("--json", o.json, kJsonHelp);
  return cmd;
}

CLI::App* AddNext(CLI::App& app, DrawOptions& o) {
  CLI::App* next = app.add_subcommand("next", "Draw keys from the shared generator table");
  AddDrawOptions(next, o);
  next->add_option("-n,--count", o.count, "How many keys")
      ->check(AtLeast(1))
      ->capture_default_str();
  next->add_option("-b,--batch", o.batch,
                   "Keys drawn per lock cycle: one commit stores a whole batch, and its keys "
                   "are printed once it is stored")
      ->check(AtLeast(1))
      ->capture_default_str();
  next->footer(
      "On the default alias a missing generator table is created on first use. Keys are printed "
      "one a line as soon as each is drawn.\nThe row is guarded by a store transaction unless "
      "--lock fields is given: one durable commit a key instead of three, and a client killed "
      "while drawing holds nobody up. Both ways may draw from one table at once.");
  return next;
}

CLI::App* AddShell(CLI::App& app, DrawOptions& o) {
  CLI::App* shell = app.add_subcommand(
      "shell", "One generator driven by commands on standard input, for scripts");
  AddDrawOptions(shell, o);
  shell
      ->add_option("-c,--cache", o.cache,
                   "Keys the generator reserves at a time and hands out one by one (its "
                   "CacheSize); keys not handed out when the shell ends go back to the row if "
                   "nobody drew since, else they are a gap")
      ->check(AtLeast(0))
      ->capture_default_str();
  std::string commands = "Commands, one a line:";
  for (const tgen::genkey::ShellCommand& c : tgen::genkey::kShellCommands)
    commands += std::string(" ") + c.usage + " (" + c.help + ")" +
                (&c == &tgen::genkey::kShellCommands.back() ? "." : ",");
  shell->footer(commands + " Answers are flushed at once; errors go to standard error.");
  return shell;
}

CLI::App* AddTable(CLI::App& app, TableOptions& o) {
  CLI::App* table = app.add_subcommand("table", "Create, check, list and repair generator tables");
  table->require_subcommand(1);
  struct Action {
    const char* name;
    const char* help;
    bool row;
  };
  for (const Action a :
       {Action{"create", "Create a generator table", false},
        Action{"check", "Check that a table has a generator table's layout", false},
        Action{"list",
               "List the sequences: GenID, Prefix, Suffix, State, Who, "
               "Try, Time",
               false},
        Action{"show", "Show the row of one sequence", true},
        Action{"unlock", "Free the row of a sequence whose holder died", true}}) {
    CLI::App* cmd = table->add_subcommand(a.name, a.help);
    AddStoreOptions(cmd, o.store);
    if (std::string_view(a.name) == "list" || std::string_view(a.name) == "show")
      cmd->add_flag("--json", o.json, kJsonHelp);
    if (std::string_view(a.name) == "list") {
      cmd->add_flag("--held", o.held,
                    "Only the rows marked held, with how long ago their lock was taken (Held)");
    }
    if (a.row) {
      cmd->add_option("--type", o.type, "GenID of the row")->capture_default_str();
      cmd->add_option("--prefix", o.prefix, "Prefix of the row")->required();
    }
    cmd->callback([&o, name = std::string(a.name)] { o.action = name; });
  }
  CLI::App* set = table->add_subcommand(
      "set",
      "Make the next draw of a sequence hand out a given suffix (its row is made if need be)");
  AddStoreOptions(set, o.store);
  set->add_option("--type", o.type, "GenID of the row")->capture_default_str();
  set->add_option("--prefix", o.prefix, "Prefix of the row")->required();
  set->add_option("--mask", o.mask, "The sequence's mask, which orders its suffixes")->required();
  set->add_option("--next", o.next, "The suffix the next draw hands out")->required();
  set->add_flag("--backwards", o.backwards,
                "Move the sequence back behind the suffix the row holds (keys handed out "
                "already are then handed out again)");
  set->callback([&o] { o.action = "set"; });
  CLI::App* out = table->add_subcommand("export", "Write every row of the table to a file");
  AddStoreOptions(out, o.store);
  out->add_option("-f,--format", o.format, "The file's format")
      ->check(CLI::IsMember({"csv", "json", "paradox"}))
      ->required();
  out->add_option("-o,--output", o.file,
                  "The file (default: standard output; a Paradox table needs a file)");
  out->add_option("--encoding", o.encoding, kEncodingHelp)
      ->check(CLI::IsMember({"utf-8", "cp1251"}))
      ->capture_default_str();
  out->callback([&o] { o.action = "export"; });
  CLI::App* in =
      table->add_subcommand("import", "Read every row of a file into the table, in one commit");
  AddStoreOptions(in, o.store);
  in->add_option("-f,--format", o.format, "The file's format")
      ->check(CLI::IsMember({"csv", "json", "paradox"}))
      ->required();
  in->add_option("file", o.file, "The file to read")->required();
  in->add_option("--encoding", o.encoding, kEncodingHelp)
      ->check(CLI::IsMember({"utf-8", "cp1251"}))
      ->capture_default_str();
  in->add_flag("--dry-run", o.dry_run,
               "Print what would be added, replaced and refused; write nothing");
  in->add_flag("--replace", o.replace,
               "Take the file's row where the table has the sequence already (the default "
               "refuses the import and lists them)");
  in->add_option("--mask", o.mask,
                 "The mask of the replaced sequences, which tells whether a file's suffix comes "
                 "before the table's");
  in->add_flag("--backwards", o.backwards,
               "Let --replace move a sequence back to a suffix before the one the table holds "
               "(keys handed out already are then handed out again)");
  in->footer(
      "The whole file is read and checked before anything is written; then every row is written "
      "in one commit, or none. A row marked held in the file comes in free. The table is "
      "created when it does not exist. --replace moves a sequence only forward: give --mask so "
      "that the order of suffixes is known; a row that changed since the import read it (a "
      "client drew meanwhile) refuses the whole import.");
  in->callback([&o] { o.action = "import"; });
  return table;
}

CLI::App* AddTables(CLI::App& app, StoreOptions& o) {
  CLI::App* tables = app.add_subcommand("tables", "List the tables of an alias");
  tables->add_option("-a,--alias", o.alias, "The alias")->capture_default_str();
  return tables;
}

CLI::App* AddForm(CLI::App& app, FormOptions& o) {
  CLI::App* form = app.add_subcommand("form", "Use a generator read from a stored form file");
  form->add_option("FILE", o.file, "The stored form")->required()->check(CLI::ExistingFile);
  form->add_option("ACTION", o.action, "next, undo, shell or show")
      ->required()
      ->check(CLI::IsMember({"next", "undo", "shell", "show"}));
  form->add_option("-c,--component", o.component, "Name of the generator (when there are several)");
  form->add_option("-n,--count", o.count, "How many keys, for next")
      ->check(AtLeast(1))
      ->capture_default_str();
  form->add_option("-l,--lock", o.lock, std::string(kLockHelp) + "; default: the form's LockMode")
      ->check(CLI::IsMember({"transaction", "fields"}));
  form->add_option("-p,--proc", o.proc, "Text for the user-procedure places ('@')");
  form->add_flag("--json", o.json, kJsonHelp);
  form->add_option("--date", o.date, kDateHelp);
  form->add_option("--check", o.check, std::string(kCheckHelp) + "; default: the form's")
      ->check(CLI::IsMember(CheckNames()));
  form->add_option("--on-overflow", o.on_overflow,
                   std::string(kOverflowHelp) + "; default: restart, as the component does")
      ->check(CLI::IsMember({"stop", "restart"}));
  return form;
}

// Converts the texts of keys and tables that the command line gives, from `charset` to the
// tables' Windows-1251 (file, alias and table names stay as they are: the system's).
void ToTableText(const std::string& charset, PreviewOptions& preview, DrawOptions& check,
                 DrawOptions& draw, TableOptions& table, FormOptions& form, VerifyOptions& verify,
                 ReferenceOptions& reference) {
  const auto convert = [&](std::string& text, const char* option) {
    text = tgen::ConvertText(text, charset.c_str(), tgen::kTableCharset, option);
  };
  const auto maybe = [&](std::optional<std::string>& text, const char* option) {
    if (text) convert(*text, option);
  };
  for (DrawOptions* o : {&check, &draw}) {
    convert(o->mask, "--mask");
    maybe(o->start, "--start");
    maybe(o->end, "--end");
    maybe(o->proc, "--proc");
    convert(o->period, "--period");
  }
  convert(preview.mask, "--mask");
  maybe(preview.start, "--start");
  maybe(preview.end, "--end");
  maybe(preview.from, "--from");
  maybe(preview.proc, "--proc");
  convert(table.prefix, "--prefix");
  convert(table.mask, "--mask");
  convert(table.next, "--next");
  maybe(form.proc, "--proc");
  for (std::vector<std::string>* keys : {&verify.keys, &reference.keys}) {
    for (std::string& key : *keys)
      convert(key, "KEY");
  }
}

// The library's notices in genkey's voice: one line on standard error, after "genkey: ".
class ToolNotices final : public tgen::NoticeSink {
 public:
  int MessageBox(std::string_view text, std::string_view /*caption*/, unsigned /*flags*/) override {
    Say(text);
    return tgen::IDOK;
  }
  void ShowMessage(std::string_view text) override { Say(text); }

 private:
  static void Say(std::string_view text) {
    std::string line;
    for (const char c : text) {
      if (c == '\n') line += ' ';
      if (c != '\r' && c != '\n') line += c;
    }
    std::cerr << "genkey: " << line << '\n' << std::flush;
  }
};

// Points a stream at another buffer for its own life.
class Redirect {
 public:
  Redirect(std::ostream& stream, std::streambuf* to) : stream_(stream), old_(stream.rdbuf(to)) {}
  Redirect(const Redirect&) = delete;
  Redirect& operator=(const Redirect&) = delete;
  ~Redirect() {
    stream_.flush();
    stream_.rdbuf(old_);
  }

 private:
  std::ostream& stream_;
  std::streambuf* old_;
};

// A sub-command: how it is added to the command line, with its options, and what runs it.
struct Command {
  std::function<CLI::App*(CLI::App&)> add;
  std::function<int()> run;
  bool stores = true;  // reads the alias file
};

int Main(int argc, char** argv) {
  using namespace tgen::genkey;
  const tgen::ScopedNoticeSink notices(std::make_shared<ToolNotices>());
  CLI::App app{"genkey: formatted key values from masks and shared sequences"};
  app.set_version_flag("--version", std::string("genkey ") + TGEN_VERSION);
  bool list = false;
  app.add_flag("--list-commands", list, "Print the sub-commands, one a line")->group("");
  bool raw = false;
  app.add_flag("--raw", raw,
               "Take and print the text of keys and tables as the bytes tables hold "
               "(Windows-1251), whatever the locale's encoding");

  PreviewOptions preview;
  DrawOptions check;
  DrawOptions draw;
  TableOptions table;
  StoreOptions store;
  FormOptions form;
  VerifyOptions verify;
  ReferenceOptions reference;
  // Every sub-command, in the order the help lists them; nothing else knows the list.
  const std::vector<Command> commands = {
      {[&](CLI::App& a) { return AddNext(a, draw); },
       [&] { return RunNext(draw, std::cout, std::cerr); }},
      {[&](CLI::App& a) { return AddShell(a, draw); },
       [&] { return RunShell(draw, std::cin, std::cout, std::cerr); }},
      {[&](CLI::App& a) { return AddPreview(a, preview); },
       [&] { return RunPreview(preview, std::cout, std::cerr); }, false},
      {[&](CLI::App& a) { return AddCheck(a, check); },
       [&] { return RunCheck(check, std::cout, std::cerr); }, false},
      {[&](CLI::App& a) { return AddVerify(a, verify); },
       [&] { return RunVerify(verify, std::cout, std::cerr); }, false},
      {[&](CLI::App& a) { return AddReference(a, reference); },
       [&] { return RunReference(reference, std::cout, std::cerr); }, false},
      {[&](CLI::App& a) { return AddTable(a, table); },
       [&] { return RunTable(table, std::cout, std::cerr); }},
      {[](CLI::App& a) {
         return a.add_subcommand("aliases", "List the aliases and where they point");
       },
       [] { return RunAliases(std::cout, std::cerr); }},
      {[&](CLI::App& a) { return AddTables(a, store); },
       [&] { return RunTables(store, std::cout, std::cerr); }},
      {[&](CLI::App& a) { return AddForm(a, form); },
       [&] { return RunForm(form, std::cin, std::cout, std::cerr); }},
  };
  std::vector<std::pair<CLI::App*, const Command*>> added;
  added.reserve(commands.size());
  for (const Command& c : commands)
    added.emplace_back(c.add(app), &c);
  app.require_subcommand(0, 1);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version are successes; every other parse error is a usage error.
    if (e.get_exit_code() == 0) return app.exit(e) == 0 ? kOk : kUsage;
    std::cerr << "genkey: " << e.what() << '\n';
    const bool some =
        std::any_of(added.begin(), added.end(), [](const auto& a) { return a.first->parsed(); });
    if (!some && dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
      std::cerr << "genkey: the sub-commands are:";
      for (const auto& [sub, command] : added)
        std::cerr << ' ' << sub->get_name();
      std::cerr << '\n';
    }
    std::cerr << "Run 'genkey --help', or 'genkey SUB-COMMAND --help', for more.\n";
    return kUsage;
  }
  if (list) {  // for the man page, which carries the help of each, down to the last level
    for (const auto& [sub, command] : added) {
      const std::vector<CLI::App*> subs = sub->get_subcommands({});
      if (subs.empty()) std::cout << sub->get_name() << '\n';
      for (const CLI::App* s : subs)
        std::cout << sub->get_name() << ' ' << s->get_name() << '\n';
    }
    return kOk;
  }
  // Text for tables comes in and goes out in the user's encoding, unless --raw: the locale's
  // (none for the C locale, whose text is bytes).
  const std::string charset = raw ? std::string() : tgen::LocaleCharset();
  std::optional<tgen::TCharsetOutBuf> out_text;
  std::optional<tgen::TCharsetOutBuf> err_text;
  std::optional<Redirect> out_redirect;
  std::optional<Redirect> err_redirect;
  if (!charset.empty() && charset != tgen::kTableCharset) {
    ToTableText(charset, preview, check, draw, table, form, verify, reference);
    draw.charset = form.charset = charset;
    // A file format written to standard output keeps its own encoding, and JSON is UTF-8.
    const bool json = preview.json || draw.json || table.json || form.json || verify.json;
    if (table.action != "export" && !json) {
      out_redirect.emplace(std::cout, &out_text.emplace(std::cout.rdbuf(), charset));
    }
    err_redirect.emplace(std::cerr, &err_text.emplace(std::cerr.rdbuf(), charset));
  }
  for (const auto& [sub, command] : added) {
    if (!sub->parsed()) continue;
    if (command->stores) {
      for (const std::string& warning : tgen::TSession::AliasFileWarnings())
        std::cerr << "genkey: warning: " << warning << '\n';
    }
    return command->run();
  }
  std::cerr << "genkey: a sub-command is required:";
  for (const auto& [sub, command] : added)
    std::cerr << ' ' << sub->get_name();
  std::cerr << "\nRun with --help for more information.\n";
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  static_cast<void>(std::setlocale(LC_CTYPE, ""));  // the user's text encoding
  // Nothing known throws here; a surprise is still a clean failure, not an abort.
  return tgen::genkey::Guarded(std::cerr, [&] { return Main(argc, argv); });
}
