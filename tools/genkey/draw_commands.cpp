// genkey next, shell and form: drawing keys with a generator component.
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <sstream>

#include "core/generator.h"
#include "platform/base/charset.h"
#include "platform/model/datamodule.h"
#include "platform/model/formstream.h"
#include "platform/store/session.h"
#include "tools/genkey/commands.h"
#include "tools/genkey/json_lines.h"

namespace tgen::genkey {

namespace {

// Shows how far a long run is, on a terminal only: redrawn every tenth of a second, and
// cleared when the run ends or is interrupted.
class Progress {
 public:
  Progress(long long total, std::ostream& err)
      : total_(total), err_(err), shown_(total >= 1000 && isatty(STDERR_FILENO) == 1) {}
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress() {
    if (drawn_) err_ << "\r\033[K" << std::flush;
  }

  void Step(long long done) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_) return;
    next_ = now + std::chrono::milliseconds(100);
    drawn_ = true;
    const long long permille = done * 1000 / total_;
    const auto bar = static_cast<std::size_t>(permille / 40);
    err_ << "\r[" << std::string(bar, '#') << std::string(25 - bar, ' ') << "] " << permille / 10
         << '.' << permille % 10 << "% " << done << '/' << total_ << std::flush;
  }

 private:
  long long total_;
  std::ostream& err_;
  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point next_{};
};

// The most keys one lock cycle draws; longer batches are split.
constexpr long long kMaxBatch = 1000000;

// The signal that asked genkey to stop, once the draw under way is printed; 0 while none did.
volatile std::sig_atomic_t g_stop_signal = 0;

// Catches SIGINT and SIGTERM for its life, so that a draw is never cut between its commit and
// its output: the key stored is printed and the row left free.
class StopSignals {
 public:
  StopSignals() {
    g_stop_signal = 0;
    struct sigaction action {};
    action.sa_handler = [](int signal) { g_stop_signal = signal; };
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &int_);
    sigaction(SIGTERM, &action, &term_);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  ~StopSignals() {
    sigaction(SIGINT, &int_, nullptr);
    sigaction(SIGTERM, &term_, nullptr);
  }
  // The exit status: kOk, or 128 + the signal.
  static int Status(int status) {
    return g_stop_signal != 0 ? kInterrupted + static_cast<int>(g_stop_signal) : status;
  }

 private:
  struct sigaction int_ {};
  struct sigaction term_ {};
};

// Why genkey will not draw from this generator with this '@' text: every key would be the same,
// or the text does not fill the '@' places. Empty when it will.
std::string DrawRefusal(const TGenerator& g, const std::optional<std::string>& proc) {
  if (g.GenMask().GetSuffix().empty()) {
    return "the mask '" + g.Mask() +
           "' has nothing to count ([..], #, $ or &): every key would be the same";
  }
  if (const std::string why = g.GenMask().DrawProblem(); !why.empty())
    return "cannot draw from the mask '" + g.Mask() + "': " + why;
  if (!g.PeriodFormat().empty()) {
    if (!proc) return {};  // the period fills the '@' places, as its setter checked
    return "give --period or --proc, not both: both would fill the '@' places";
  }
  const int places = g.GenMask().ProcCount();
  const auto given = static_cast<int>(proc ? proc->size() : 0);
  if (places != given && (places > 0 || proc)) {
    return "the mask '" + g.Mask() + "' has " + std::to_string(places) +
           " '@' place(s), and --proc gives " + std::to_string(given) +
           " character(s): give exactly " + std::to_string(places);
  }
  return {};
}

// One generator and the user-procedure text it is given.
class Client {
 public:
  explicit Client(TGenerator& generator) : g_(generator) {
    g_.GetUserPrefixes = [this](TObject*, TmString& preff) {
      if (proc_) preff = *proc_;
    };
  }

  void SetProc(std::optional<std::string> text) { proc_ = std::move(text); }
  // The character set of the shell's input; empty: bytes as the table holds them.
  void SetCharset(std::string charset) { charset_ = std::move(charset); }
  [[nodiscard]] TGenerator& Generator() const { return g_; }

  // Past the end of the sequence the draw fails, naming its last key, instead of restarting
  // it and handing out its keys again.
  void StopAtEnd() {
    g_.OnOverFlowMask = [this](TObject*, TmString) {
      throw Exception("the sequence ended at " + g_.GenMask().LastValue().str() +
                      "; no key was handed out (--on-overflow restart starts it again)");
    };
  }

  // Answers for programs: a JSON object a line (WriteJsonLine).
  void SetJson(bool json) { json_ = json; }

  // Hands `count` keys to `emit`, drawn `batch` per lock cycle, each batch as soon as it is
  // stored.
  void Draw(long long count, std::ostream& err, long long batch,
            const std::function<void(const TmString&)>& emit) {
    Progress progress(count, err);
    for (long long done = 0; done < count && g_stop_signal == 0;) {
      const auto n = static_cast<int>(std::min({batch, count - done, kMaxBatch}));
      if (n == 1) {
        emit(g_.Generator());
      } else {
        for (const TmString& key : g_.GenerateBatch(n))
          emit(key);
      }
      done += n;
      progress.Step(done);
    }
  }
  // Prints `count` keys, one a line (or {"key": ...}), each flushed as soon as it is stored.
  void Next(long long count, std::ostream& out, std::ostream& err, long long batch = 1) {
    Draw(count, err, batch, [&](const TmString& key) {
      if (json_) {
        WriteJsonLine(out, {{"key", Utf8(key.view())}});
      } else {
        out << key << '\n' << std::flush;
      }
    });
  }

  // What one command did: "ok", "refused" (nothing done) or "failed"; what it answers with
  // (`field`: keys, key, who), and why it was refused or failed.
  struct Answer {
    std::string outcome = "ok";
    std::string field;
    std::vector<std::string> values;
    std::string message;
  };

  // Hands the last key back; refused, it answers with the key it keeps.
  Answer Undo() {
    bool refused = false;
    g_.OnUndoFailed = [&refused](TObject*, TmString) { refused = true; };
    Answer a{"ok", "key", {g_.Undo().str()}, ""};
    g_.OnUndoFailed = {};
    if (refused) {
      a.outcome = "refused";
      a.message = "Can NOT undo!";
    }
    return a;
  }

  // Writes `a`: a JSON object with the command; or the lines it answers with (a refused or
  // failed command that has none answers with an empty line, which no key is) and its message
  // on `err`.
  void Tell(const std::string& command, const Answer& a, std::ostream& out,
            std::ostream& err) const {
    if (json_) {
      nlohmann::json object = {{"command", Utf8(command)}, {"outcome", a.outcome}};
      if (a.field == "keys") {
        nlohmann::json keys = nlohmann::json::array();
        for (const std::string& k : a.values)
          keys.push_back(Utf8(k));
        object["keys"] = keys;
      } else if (!a.field.empty()) {
        object[a.field] = Utf8(a.values.front());
      }
      if (!a.message.empty()) object["message"] = Utf8(a.message);
      WriteJsonLine(out, object);
      return;
    }
    if (!a.message.empty()) err << "genkey: " << a.message << '\n' << std::flush;
    for (const std::string& v : a.values)
      out << v << '\n';
    if (a.outcome != "ok" && a.values.empty()) out << '\n';
    out << std::flush;
  }

  // The number of keys a next or batch asks for: the one word after it, at least 1; none
  // (for next) is 1. Nothing when the words are anything else.
  static std::optional<long long> Count(std::istream& words, bool one_by_default) {
    std::string word;
    if (!(words >> word)) return one_by_default ? std::optional(1LL) : std::nullopt;
    std::string rest;
    if (words >> rest || word.find_first_not_of("0123456789") != std::string::npos ||
        word.size() > 15) {
      return std::nullopt;
    }
    const long long n = std::stoll(word);
    return n >= 1 ? std::optional(n) : std::nullopt;
  }

  // Does one line of the shell; keys drawn by next and batch go to `emit` as they are stored.
  Answer Do(const std::string& line, std::ostream& err,
            const std::function<void(const TmString&)>& emit) {
    const auto refused = [](std::string why) { return Answer{"refused", "", {}, std::move(why)}; };
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "next" || command == "batch") {
      const std::optional<long long> n = Count(words, command == "next");
      if (!n) return refused(command + " needs a number of keys, at least 1");
      Answer a{"ok", "keys", {}, ""};
      Draw(*n, err, command == "batch" ? *n : 1, emit);
      return a;
    }
    if (command == "undo") return Undo();
    if (command == "proc") {
      std::string text = line.substr(line.find("proc") + 4);
      if (!text.empty() && text.front() == ' ') text.erase(0, 1);
      if (const std::string why = DrawRefusal(g_, text); !why.empty()) return refused(why);
      proc_ = text;
      return {};
    }
    if (command == "date") {
      std::string text;
      words >> text;
      g_.SetDrawDate(ParseDate(text));
      return {};
    }
    if (command == "who") return Answer{"ok", "who", {g_.Who()}, ""};
    std::string known;
    for (const ShellCommand& c : kShellCommands)
      known += std::string(c.usage) + (&c == &kShellCommands.back() ? "" : ", ");
    return refused("unknown command '" + command + "' (" + known + ")");
  }

  int Shell(std::istream& in, std::ostream& out, std::ostream& err) {
    std::string line;
    while (g_stop_signal == 0 && std::getline(in, line)) {
      Answer answer;
      if (!charset_.empty()) {
        try {
          line = ConvertText(line, charset_.c_str(), kTableCharset, "the command");
        } catch (const EConvertError& e) {
          Tell(line, {"refused", "", {}, e.Message()}, out, err);
          continue;
        }
      }
      std::istringstream first(line);
      std::string command;
      first >> command;
      if (command.empty()) continue;
      if (command == "quit") break;
      // Keys are printed as they are drawn, or gathered for the command's one JSON line.
      std::vector<std::string> drawn;
      try {
        answer = Do(line, err, [&](const TmString& key) {
          if (json_) {
            drawn.push_back(key.str());
          } else {
            out << key << '\n' << std::flush;
          }
        });
      } catch (const std::exception& e) {
        answer = {"failed", drawn.empty() ? "" : "keys", {}, e.what()};
      }
      if (answer.field == "keys") {
        if (!json_) answer.field.clear();  // printed already
        answer.values = std::move(drawn);
      }
      Tell(line, answer, out, err);
    }
    return kOk;
  }

 private:
  TGenerator& g_;
  std::optional<std::string> proc_;
  std::string charset_;
  bool json_ = false;
};

TLockMode LockModeOf(const std::string& name) {
  return name == "fields" ? TLockMode::lmRowFields : TLockMode::lmTransaction;
}

}  // namespace

std::unique_ptr<TGenerator> ConfigureGenerator(const DrawOptions& o, std::ostream& err) {
  if (o.mask.empty()) {
    err << "genkey: the mask is empty; give one with --mask, e.g. --mask 'INV-####'\n";
    return nullptr;
  }
  auto g = std::make_unique<TGenerator>();
  try {
    g->SetMask(o.mask);
  } catch (const Exception& e) {
    err << "genkey: the mask '" << o.mask << "' is refused: " << e.Message() << '\n';
    return nullptr;
  }
  const std::string problem = g->BoundsProblem(o.start.value_or(""), o.end.value_or(""));
  if (!problem.empty()) {
    err << "genkey: " << problem << '\n';
    return nullptr;
  }
  if (o.start) g->SetStartValue(*o.start);
  if (o.end) g->SetEndValue(*o.end);
  g->SetGeneratorType(o.type);
  g->SetLockMode(LockModeOf(o.lock));
  g->SetMaxWait(o.max_wait);
  g->SetCacheSize(o.cache);
  try {
    g->SetCheckMethod(CheckMethodOf(o.check));
    g->SetFiscalYearStart(o.fiscal_start);
    g->SetPeriodFormat(o.period);
    if (o.date) g->SetDrawDate(ParseDate(*o.date));
  } catch (const Exception& e) {
    err << "genkey: " << e.Message() << '\n';
    return nullptr;
  }
  g->SetDataBaseName(o.store.alias);
  g->SetTableName(o.store.table);
  if (const std::string why = DrawRefusal(*g, o.proc); !why.empty()) {
    err << "genkey: " << why << '\n';
    return nullptr;
  }
  return g;
}

namespace {

// A generator set up from the command line, its table open. Null after a refusal, which has
// been reported.
std::unique_ptr<TGenerator> MakeGenerator(const DrawOptions& o, std::ostream& err) {
  std::unique_ptr<TGenerator> g = ConfigureGenerator(o, err);
  if (!g) return nullptr;
  try {
    // On the default alias the table is made on first use, so that genkey needs no set-up.
    if (const auto where = CreateDefaultGeneratorTable(o.store.alias, o.store.table)) {
      err << "genkey: created generator table " << o.store.table << " in " << *where << '\n';
    }
  } catch (const EDatabaseError&) {
    // Opening it below tells why.
  }
  g->InitDB();
  if (!g->Disabled()) return g;
  // What to do next, where the table is missing.
  try {
    const std::vector<std::string> tables = TSession::Default().GetTableNames(o.store.alias);
    if (std::find(tables.begin(), tables.end(), o.store.table) == tables.end()) {
      err << "genkey: make the table with: genkey table create --alias " << o.store.alias
          << " --table " << o.store.table << '\n';
    }
  } catch (const EDatabaseError&) {
    // The alias itself is what is wrong, and InitDB said so.
  }
  return nullptr;
}

TGenerator* FindGenerator(TComponent& root, const std::optional<std::string>& name,
                          std::ostream& err) {
  std::vector<TGenerator*> found;
  for (int i = 0; i < root.ComponentCount(); ++i) {
    if (auto* g = dynamic_cast<TGenerator*>(root.Components(i))) {
      if (!name || CompareText(g->Name(), *name) == 0) found.push_back(g);
    }
  }
  if (found.size() == 1) return found.front();
  if (name) {
    err << "genkey: the form holds no generator named " << *name << '\n';
  } else {
    err << "genkey: the form holds " << found.size() << " generators; name one with --component\n";
  }
  return nullptr;
}

void Show(const TGenerator& g, std::ostream& out) {
  for (const TPropInfo& p : g.Properties()) {
    const TPropValue v = p.Get(g);
    out << p.Name << " = ";
    if (const auto* n = std::get_if<std::int32_t>(&v)) {
      out << *n;
    } else {
      out << std::get<std::string>(v);
    }
    out << '\n';
  }
  out << "DataBaseName = " << g.DataBaseName() << '\n'
      << "TableName = " << g.TableName() << '\n'
      << "Disabled = " << (g.Disabled() ? "yes" : "no") << '\n';
}

}  // namespace

int RunNext(const DrawOptions& options, std::ostream& out, std::ostream& err) {
  return Guarded(err, [&]() -> int {
    const std::unique_ptr<TGenerator> g = MakeGenerator(options, err);
    if (!g) return kFailure;
    Client client(*g);
    client.SetProc(options.proc);
    client.SetJson(options.json);
    if (options.on_overflow == "stop") client.StopAtEnd();
    const StopSignals signals;
    client.Next(options.count, out, err, options.batch);
    return StopSignals::Status(kOk);
  });
}

int RunShell(const DrawOptions& options, std::istream& in, std::ostream& out, std::ostream& err) {
  return Guarded(err, [&]() -> int {
    const std::unique_ptr<TGenerator> g = MakeGenerator(options, err);
    if (!g) return kFailure;
    Client client(*g);
    client.SetProc(options.proc);
    client.SetJson(options.json);
    client.SetCharset(options.charset);
    if (options.on_overflow == "stop") client.StopAtEnd();
    const StopSignals signals;
    return StopSignals::Status(client.Shell(in, out, err));
  });
}

int RunForm(const FormOptions& options, std::istream& in, std::ostream& out, std::ostream& err) {
  return Guarded(err, [&]() -> int {
    RegisterGeneratorClasses();
    const std::unique_ptr<TComponent> root = ReadComponentFile(options.file);
    TGenerator* g = FindGenerator(*root, options.component, err);
    if (g == nullptr) return kFailure;
    if (options.lock) g->SetLockMode(LockModeOf(*options.lock));
    if (options.check) g->SetCheckMethod(CheckMethodOf(*options.check));
    if (options.date) g->SetDrawDate(ParseDate(*options.date));
    if (options.action == "show") {
      Show(*g, out);
      return kOk;
    }
    if (g->Disabled()) {
      err << "genkey: generator " << g->Name() << " is disabled\n";
      return kFailure;
    }
    if (const std::string why = DrawRefusal(*g, options.proc); !why.empty()) {
      err << "genkey: " << why << '\n';
      return kFailure;
    }
    Client client(*g);
    client.SetProc(options.proc);
    client.SetJson(options.json);
    client.SetCharset(options.charset);
    if (options.on_overflow == "stop") client.StopAtEnd();
    const StopSignals signals;
    if (options.action == "next") client.Next(options.count, out, err);
    if (options.action == "undo") {
      const Client::Answer a = client.Undo();
      client.Tell("undo", a, out, err);
      if (a.outcome != "ok") return kFailure;
    }
    if (options.action == "shell") return StopSignals::Status(client.Shell(in, out, err));
    return StopSignals::Status(kOk);
  });
}

}  // namespace tgen::genkey
