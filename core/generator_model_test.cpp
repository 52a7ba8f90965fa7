// A random tester of the generator against a model of what it may hand out.
//
// Three generators, each of either lock mode, its own cache size and its own check method
// (keys compared without their check characters), share one table of the memory store. A run is a
// random list of steps: draws, batches, undos, prefix changes, caches given back (a generator
// replaced, or resized), imports that move a sequence on (with a draw between the plan and the
// write), rows left held by a dead client, the clock moved past the stale limit, and store failures
// (an edit refused, a post failed, a commit lost, a new row refused). A draw may have another
// client draw inside it: right after it read and marked the row, or while it waits for the row;
// the other then waits for a live holder, breaks its lock, and the first must find its lock
// broken and store nothing of what it read. After every step the model checks what the promise
// of unique keys means:
//   - no key is held twice: a key handed out is held until an undo that succeeded hands it
//     back, unless its sequence restarted since;
//   - one call never hands one key out twice, nor does one reservation of a cache;
//   - an undo that succeeds hands back a key its client holds, and its row steps back to the
//     key before it;
//   - a cache's reservation that ends with keys left, nobody having written the row since,
//     gives them back: the row returns to the newest key its client still holds;
//   - the row never lies behind a key that is held;
//   - while no fault is injected, no sequence restarts and no client draws inside another's
//     draw, a draw from the table hands out the
//     keys that follow its row (the start value for a new row) one after another, leaves no gap
//     (without a cache the row holds the last key handed out), every row is free again
//     after each step unless a dead client holds it, and a single draw never fails.
// rapidcheck shrinks a failing run to a short list of steps. RC_PARAMS="seed=N max_success=M"
// picks the runs; scripts/model-check.sh runs long campaigns.
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/generator.h"
#include "core/timestamp.h"
#include "core/transfer.h"
#include "platform/base/clock.h"
#include "platform/base/notice.h"
#include "platform/store/memorystore.h"
#include "platform/store/scratch_testing.h"

namespace tgen {
namespace {

constexpr const char* kDb = "model";
constexpr const char* kTable = "GENTBL.DB";
constexpr int kClients = 3;

enum class Kind : std::uint8_t {
  kNext,
  kBatch,
  kUndo,
  kPrefix,
  kRenew,
  kImport,
  kHold,
  kClock,
  kFault,
  kInside
};

struct Step {
  Kind kind = Kind::kNext;
  int client = 0;
  int n = 1;  // a batch's size, a fault's kind, how far an import or the clock moves
};

void showValue(const Step& s, std::ostream& os) {
  static const char* const names[] = {"next",   "batch", "undo",  "prefix", "renew",
                                      "import", "hold",  "clock", "fault",  "inside"};
  os << names[static_cast<int>(s.kind)] << "(client " << s.client << ", " << s.n << ")";
}

struct Config {
  int mask = 0;
  bool stop_at_end = false;  // an overflow fails the draw instead of restarting the sequence
  std::vector<std::pair<bool, int>> clients;  // lmTransaction?, CacheSize
  std::vector<int> checks;                    // each client's TCheckMethod
};

void showValue(const Config& c, std::ostream& os) {
  os << "mask " << c.mask << (c.stop_at_end ? ", stop at end" : ", restart") << ", clients";
  for (const auto& [transaction, cache] : c.clients)
    os << " (" << (transaction ? "transaction" : "fields") << ", cache " << cache << ")";
  os << ", checks";
  for (const int check : c.checks)
    os << " " << check;
}

struct MaskCase {
  const char* mask;
  const char* start;
  const char* end;
};
const MaskCase kMasks[] = {
    {"K#", "", ""},  {"A-[XYZ]#", "", ""}, {"@-##", "", ""},
    {"@$&", "", ""}, {"R##", "05", "40"},  {"####", "", ""},
};

// A generator that runs `inside` once in the middle of its next draw: when it has read the row
// and is about to take it, right after it tried, or when it pauses for a row that another holds.
class Hooked : public TGenerator {
 public:
  std::function<void()> inside;
  bool before_take = false;
  bool ReadDATA() override {
    if (before_take) RunInside();
    const bool held = TGenerator::ReadDATA();
    RunInside();
    return held;
  }
  void Wait() override {
    RunInside();
    TGenerator::Wait();
  }

 private:
  void RunInside() {
    if (!inside) return;
    const std::function<void()> run = std::move(inside);
    inside = nullptr;
    run();
  }
};

std::atomic<long long> g_steps{0};
std::atomic<long long> g_runs{0};
const struct Report {  // NOLINT(cppcoreguidelines-special-member-functions)
  ~Report() {
    std::fprintf(stderr, "model: %lld steps in %lld runs\n", g_steps.load(), g_runs.load());
  }
} g_report;

// One run: the generators, the model, and the checks.
class Run {
 public:
  explicit Run(const Config& config) : config_(config), mask_(kMasks[config.mask]) {
    store_->Reset();
    CreateGeneratorTable(*store_, kDb, kTable);
    order_.ScanMask(mask_.mask);
    clients_.resize(kClients);  // never moved again: the handlers hold their client
    for (int i = 0; i < kClients; ++i) {
      clients_[static_cast<std::size_t>(i)].proc = "A";
      Renew(i);
    }
  }

  void Do(const Step& s) {
    ++g_steps;
    if (trace_) {
      std::ostringstream line;
      showValue(s, line);
      std::fprintf(stderr, "  %s\n", line.str().c_str());
    }
    clock_->Advance(std::chrono::milliseconds(1));
    faulty_ = store_->FaultsPending(kDb, kTable);
    Client& c = clients_.at(static_cast<std::size_t>(s.client));
    switch (s.kind) {
      case Kind::kNext:
        Draw(s.client, 1);
        break;
      case Kind::kBatch:
        Draw(s.client, s.n);
        break;
      case Kind::kUndo:
        Undo(s.client);
        break;
      case Kind::kPrefix:
        // Another cache size; or a new prefix text, or another GeneratorType for a mask without
        // "@" places: another sequence.
        {
          // Each ends a cache's reservation.
          const auto back = GiveBack(c);
          if (s.n % 3 == 0) {
            c.g->SetCacheSize(c.g->CacheSize() > 1 ? 0 : 3);
          } else {
            c.proc = c.proc == "A" ? "B" : "A";
            c.g->SetGeneratorType(c.g->GeneratorType() == 0 ? 1 : 0);
          }
          CheckGivenBack(back);
          break;
        }
      case Kind::kRenew:
        Renew(s.client);
        break;
      case Kind::kImport:
        Import(s);
        break;
      case Kind::kHold:
        HoldRow(c);
        break;
      case Kind::kClock:
        clock_->Advance(std::chrono::milliseconds(400 * s.n));
        break;
      case Kind::kInside:
        DrawWithAnotherInside(s);
        break;
      case Kind::kFault: {
        const int at = 1 + (s.n / 4) % 3;  // the next call of its kind, the second or the third
        const std::set<int> which = s.n % 2 == 0 ? std::set<int>{at} : std::set<int>{at, at + 1};
        if (s.n % 4 == 0) store_->FailLocks(kDb, kTable, which);
        if (s.n % 4 == 1) store_->FailUpdates(kDb, kTable, which);
        if (s.n % 4 == 2) store_->LoseCommits(kDb, kTable, which);
        if (s.n % 4 == 3) store_->FailInserts(kDb, kTable, which);
        break;
      }
    }
    CheckRowsAhead();
    CheckRowsFree();
  }

 private:
  struct Held {
    int client;
    std::string sequence;
    int round;  // the restarts of its sequence before it was drawn; -1: not known
    std::string key;
  };
  struct Client {
    std::unique_ptr<TGenerator> g;
    std::string proc;
    std::vector<std::string> handed;  // keys handed out and held, oldest first (sequence key)
    std::set<std::string> reserved;   // handed out of the current reservation of its cache
    int reservation_round = 0;        // the restarts of its sequence when it was made
    int reservation_restarts = -1;    // all restarts after it was made; -1: made under a fault
    std::optional<std::string> reserved_from;  // the row's suffix before it, where it had one
    std::string reserved_row;                  // and what it wrote there (Written)
    bool undo_failed = false;
  };

  void Renew(int i) {
    Client& c = clients_.at(static_cast<std::size_t>(i));
    const auto back = GiveBack(c);
    c.g.reset();  // gives its cache back
    CheckGivenBack(back);
    c.handed.clear();
    c.reserved.clear();
    auto g = std::make_unique<Hooked>();
    g->SetMask(mask_.mask);
    if (*mask_.start != '\0') g->SetStartValue(mask_.start);
    if (*mask_.end != '\0') g->SetEndValue(mask_.end);
    g->SetDataBaseName("Mem");
    g->SetTableName(kTable);
    g->SetWaitRound(std::chrono::nanoseconds(0));
    g->SetMaxWait(5);
    const auto& [transaction, cache] = config_.clients.at(static_cast<std::size_t>(i));
    g->SetLockMode(transaction ? TLockMode::lmTransaction : TLockMode::lmRowFields);
    g->SetCacheSize(cache);
    g->SetCheckMethod(static_cast<TCheckMethod>(config_.checks.at(static_cast<std::size_t>(i))));
    g->GetUserPrefixes = [&c](TObject*, TmString& preff) { preff = c.proc; };
    g->OnUndoFailed = [&c](TObject*, TmString) { c.undo_failed = true; };
    g->OnOverFlowMask = [this](TObject* sender, TmString) {
      auto* generator = static_cast<TGenerator*>(sender);
      ++restarts_[Sequence(*generator)];
      ++all_restarts_;
      if (config_.stop_at_end) throw Exception("the sequence ended");
      generator->NullRecord();
    };
    g->InitDB();
    RC_ASSERT(!g->Disabled());
    c.g = std::move(g);
  }

  [[nodiscard]] static std::string Sequence(const TGenerator& g) {
    return std::to_string(g.GeneratorType()) + "/" + g.GenMask().CurrentPrefix().str();
  }
  [[nodiscard]] std::string SuffixOf(const std::string& key) const {
    std::string suffix;
    for (int k = 0; k < order_.Count(); ++k) {
      if (order_.Elements()[static_cast<std::size_t>(k)].IsSuffix())
        suffix += key.at(static_cast<std::size_t>(k));
    }
    return suffix;
  }

  // Client s.client draws, and another draws inside its draw.
  void DrawWithAnotherInside(const Step& s) {
    auto& hooked = static_cast<Hooked&>(*clients_.at(static_cast<std::size_t>(s.client)).g);
    hooked.before_take = s.n / 2 % 2 == 0;
    hooked.inside = [this, other = (s.client + 1 + s.n % 2) % kClients] {
      ++draws_inside_;
      Draw(other, 1);
    };
    Draw(s.client, 1);
    hooked.inside = nullptr;  // its cache served it: nothing ran inside
  }

  void Draw(int i, int count) {
    Client& c = clients_.at(static_cast<std::size_t>(i));
    const bool cached = c.g->CacheSize() > 1 && count == 1;
    const bool reserving = cached && c.g->CachedKeys() == 0;
    if (reserving) c.reserved.clear();
    const int restarts_before = all_restarts_;
    const int inside_before = draws_inside_;
    const auto rows_before = Rows();
    std::vector<TmString> keys;
    try {
      keys = count == 1 ? std::vector<TmString>{c.g->Generator()} : c.g->GenerateBatch(count);
    } catch (const std::exception& e) {
      // Nothing handed out. Without a fault to come, and with a sequence that restarts, a
      // single draw fails only if something was left behind: a row still in edit, say.
      if (count == 1 && !faulty_ && !config_.stop_at_end)
        RC_FAIL(std::string("a single draw failed: ") + e.what());
      return;
    }
    // Keys drawn in one cycle with a restart among them are from two rounds of the sequence;
    // the model does not tell which key from which, and checks them only against each other.
    const std::string sequence = Sequence(*c.g);
    if (!cached || reserving) left_held_.erase(sequence);  // taken, and given back
    const bool alone = draws_inside_ == inside_before;     // nobody drew inside this draw
    if (!faulty_ && alone && all_restarts_ == restarts_before && (!cached || reserving))
      CheckFollow(rows_before, sequence, keys, !cached);
    // A cache's keys belong to the round in which they were reserved.
    int round = all_restarts_ != restarts_before ? -1 : restarts_[sequence];
    if (reserving) {
      c.reservation_round = round;
      c.reservation_restarts = faulty_ || round == -1 ? -1 : all_restarts_;
      const auto before = rows_before.find(sequence);
      c.reserved_from = before == rows_before.end() || !alone
                            ? std::nullopt
                            : std::optional(std::get<std::string>(before->second.second.at(2)));
      const auto rows = Rows();
      const auto after = rows.find(sequence);
      c.reserved_row = after == rows.end() ? "" : Written(after->second.second);
    }
    if (cached) round = c.reservation_round;
    std::set<std::string> in_call;
    for (const TmString& k : keys) {
      RC_ASSERT(VerifyCheck(c.g->CheckMethod(), k.str()));
      const std::string key = k.str().substr(0, static_cast<std::size_t>(order_.Count()));
      if (trace_) std::fprintf(stderr, "    %s\n", key.c_str());
      RC_ASSERT(in_call.insert(key).second);  // one call, one key once
      // GeneratorTypes keep sequences of equal keys apart.
      const std::string id = sequence + " " + key;
      if (cached) RC_ASSERT(c.reserved.insert(id).second);  // one reservation, one key once
      for (const Held& h : held_[id]) {
        if (round != -1 && h.round == round) {
          RC_FAIL("key " + key + " handed out to client " + std::to_string(i) +
                  " is held by client " + std::to_string(h.client));
        }
      }
      held_[id].push_back({i, sequence, round, key});
      c.handed.push_back(id);
    }
  }

  void Undo(int i) {
    Client& c = clients_.at(static_cast<std::size_t>(i));
    c.undo_failed = false;
    std::string back;
    try {
      back = c.g->Undo().str();
    } catch (const std::exception&) {
      return;
    }
    if (trace_) std::fprintf(stderr, "    undo %s\n", c.undo_failed ? "refused" : "done");
    if (c.undo_failed) return;
    if (!faulty_ && c.g->CacheSize() <= 1) {
      const auto rows = Rows();
      const auto row = rows.find(Sequence(*c.g));
      RC_ASSERT(row != rows.end());
      RC_ASSERT(std::get<std::string>(row->second.second.at(2)) == SuffixOf(back));
    }
    // Handed back: the newest key the client still holds.
    while (!c.handed.empty()) {
      const std::string id = c.handed.back();
      c.handed.pop_back();
      std::vector<Held>& holders = held_[id];
      const auto mine = std::find_if(holders.rbegin(), holders.rend(),
                                     [i](const Held& h) { return h.client == i; });
      if (mine == holders.rend()) continue;
      holders.erase(std::next(mine).base());
      c.reserved.erase(id);
      return;
    }
    RC_FAIL("client " + std::to_string(i) + "'s undo succeeded, and it holds no key");
  }

  // What a write leaves in a row: the suffix, when and by whom.
  [[nodiscard]] static std::string Written(const TRecord& r) {
    return std::get<std::string>(r.at(2)) + " " + std::get<std::string>(r.at(3)) + " " +
           std::get<std::string>(r.at(6));
  }
  // A cache's reservation that ends with keys left, while nobody wrote the row since it was
  // made, gives them back: the row returns to the newest key the client still holds of it, or
  // to where it was before, when it holds none. The sequence and that suffix, where it applies.
  [[nodiscard]] std::optional<std::pair<std::string, std::string>> GiveBack(const Client& c) const {
    if (faulty_ || !c.g || c.g->CachedKeys() == 0 || c.reservation_restarts != all_restarts_) {
      return {};
    }
    const std::string sequence = Sequence(*c.g);
    const auto rows = Rows();
    const auto row = rows.find(sequence);
    if (row == rows.end() || std::get<double>(row->second.second.at(5)) != 0.0 ||
        Written(row->second.second) != c.reserved_row) {
      return {};
    }
    for (auto id = c.handed.rbegin(); id != c.handed.rend(); ++id) {
      if (c.reserved.count(*id) > 0)
        return std::pair(sequence, SuffixOf(id->substr(id->find(' ') + 1)));
    }
    if (!c.reserved_from) return {};
    return std::pair(sequence, *c.reserved_from);
  }
  void CheckGivenBack(const std::optional<std::pair<std::string, std::string>>& back) const {
    if (!back) return;
    const auto rows = Rows();
    const auto row = rows.find(back->first);
    RC_ASSERT(row != rows.end());
    const std::string now = std::get<std::string>(row->second.second.at(2));
    if (now != back->second) {
      RC_FAIL("the cache of " + back->first + " left the row at " + now + ", not at " +
              back->second + ", the last key its client held");
    }
  }

  // The table's rows: sequence -> (row id, record).
  [[nodiscard]] std::map<std::string, std::pair<TRowId, TRecord>> Rows() const {
    std::map<std::string, std::pair<TRowId, TRecord>> rows;
    for (auto& [id, r] : store_->Rows(kDb, kTable)) {
      const std::string sequence = std::to_string(static_cast<int>(std::get<double>(r.at(0)))) +
                                   "/" + std::get<std::string>(r.at(1));
      rows[sequence] = {id, r};
    }
    return rows;
  }

  void HoldRow(const Client& c) {
    const auto rows = Rows();
    const auto row = rows.find(Sequence(*c.g));
    if (row == rows.end()) return;
    TRecord r = row->second.second;
    r.at(3) = GetTimeStamp();
    r.at(4) = 0.0;
    r.at(5) = 1.0;
    r.at(6) = std::string("DEADCLIENT");
    store_->SetRow(kDb, kTable, row->second.first, r);
  }

  // Exports the rows, moves one sequence n steps on in the file, lets a client draw between
  // the plan and the write on every other import, and imports the file over the table.
  void Import(const Step& s) {
    TTable table;
    table.SetDatabaseName("Mem");
    table.SetTableName(kTable);
    table.Open();
    std::vector<TSequenceRow> rows = ReadSequenceRows(table);
    if (rows.empty()) return;
    TSequenceRow& moved = rows.at(static_cast<std::size_t>(s.n) % rows.size());
    const std::optional<std::string> ahead = Following(moved.Suffix, s.n);
    if (!ahead) return;
    moved.Suffix = *ahead;
    const TImportPlan plan = PlanImport(table, rows);
    if (s.n % 2 == 0) Draw(s.client, 1);
    try {
      ApplyImport(table, plan, {.Replace = true, .Order = &order_});
    } catch (const ETransferError&) {
    }
  }

  // The suffix `steps` after `suffix`, or nothing where the steps pass the end.
  [[nodiscard]] std::optional<std::string> Following(const std::string& suffix,
                                                     int steps = 1) const {
    TGenMask step;
    step.ScanMask(mask_.mask);
    if (*mask_.end != '\0') step.SetEndValue(mask_.end);
    bool ended = false;
    step.OnOverFlow = [&ended](TObject*, TmString) { ended = true; };
    step.SetSuffix(suffix);
    for (int i = 0; i < steps && !ended; ++i)
      step.Increment();
    if (ended) return std::nullopt;
    return step.GetSuffix().str();
  }
  [[nodiscard]] std::string FirstSuffix() const {
    if (*mask_.start != '\0') return mask_.start;
    TGenMask first;
    first.ScanMask(mask_.mask);
    first.NullValue();
    return first.GetSuffix().str();
  }

  // The keys of one draw from the table follow the row as it was, one after another; without a
  // cache the row holds the last of them afterwards.
  void CheckFollow(const std::map<std::string, std::pair<TRowId, TRecord>>& before,
                   const std::string& sequence, const std::vector<TmString>& keys,
                   bool row_at_last) const {
    if (keys.empty() || order_.Count() == 0) return;
    const auto row = before.find(sequence);
    std::optional<std::string> want =
        row == before.end() ? FirstSuffix()
                            : Following(std::get<std::string>(row->second.second.at(2)));
    for (const TmString& key : keys) {
      if (!want) return;  // the sequence ends here; what comes next is the restart's business
      const std::string got = SuffixOf(key.str());
      if (got != *want) {
        RC_FAIL("drawn " + key.str() + " of " + sequence + " where " + *want + " comes next");
      }
      want = Following(got);
    }
    if (!row_at_last) return;
    const auto rows = Rows();
    const auto after = rows.find(sequence);
    RC_ASSERT(after != rows.end());
    RC_ASSERT(std::get<std::string>(after->second.second.at(2)) == SuffixOf(keys.back().str()));
  }

  // No row stays held after a step, but by a dead client, or by one whose release a fault
  // refused, until a draw takes the row again.
  void CheckRowsFree() {
    for (const auto& [sequence, row] : Rows()) {
      const TRecord& r = row.second;
      if (std::get<double>(r.at(5)) == 0.0 || std::get<std::string>(r.at(6)) == "DEADCLIENT" ||
          left_held_.count(sequence) > 0) {
        continue;
      }
      if (faulty_) {
        left_held_.insert(sequence);
        continue;
      }
      RC_FAIL("the row of " + sequence + " is left held by " + std::get<std::string>(r.at(6)));
    }
  }

  void CheckRowsAhead() const {
    const auto rows = Rows();
    for (const auto& [id, holders] : held_) {
      for (const Held& held : holders)
        CheckRowAhead(rows, held);
    }
  }

  void CheckRowAhead(const std::map<std::string, std::pair<TRowId, TRecord>>& rows,
                     const Held& held) const {
    if (held.round != restarts_.at(held.sequence)) return;
    const auto row = rows.find(held.sequence);
    RC_ASSERT(row != rows.end());
    const std::string stored = std::get<std::string>(row->second.second.at(2));
    const std::optional<int> order = order_.CompareSuffixes(stored, SuffixOf(held.key));
    if (order && *order < 0) {
      RC_FAIL("the row of " + held.sequence + " holds " + stored + ", behind the key " + held.key +
              " that client " + std::to_string(held.client) + " holds");
    }
  }

  // TGEN_MODEL_TRACE=1 prints the steps of every run with what they handed out.
  bool trace_ = std::getenv("TGEN_MODEL_TRACE") != nullptr;
  Config config_;
  MaskCase mask_;
  TGenMask order_;
  std::shared_ptr<TMemoryStore> store_ = TMemoryStore::Instance();
  std::shared_ptr<ManualClock> clock_ =
      std::make_shared<ManualClock>(EncodeLocal({2026, 12, 7, 12, 0, 30, 500}));
  ScopedClock clock_guard_{clock_};
  ScopedNoticeSink notices_{std::make_shared<RecordingNoticeSink>()};
  std::vector<Client> clients_;
  std::map<std::string, std::vector<Held>> held_;  // by sequence and key
  std::map<std::string, int> restarts_;
  int all_restarts_ = 0;
  int draws_inside_ = 0;             // draws made inside another client's draw
  bool faulty_ = false;              // a fault was to come when the step began
  std::set<std::string> left_held_;  // sequences whose rows a fault may have left held
};

rc::Gen<Step> AnyStep() {
  return rc::gen::build<Step>(
      rc::gen::set(&Step::kind, rc::gen::weightedElement<Kind>({{12, Kind::kNext},
                                                                {3, Kind::kBatch},
                                                                {6, Kind::kUndo},
                                                                {2, Kind::kPrefix},
                                                                {2, Kind::kRenew},
                                                                {1, Kind::kImport},
                                                                {1, Kind::kHold},
                                                                {1, Kind::kClock},
                                                                {2, Kind::kFault},
                                                                {2, Kind::kInside}})),
      rc::gen::set(&Step::client, rc::gen::inRange(0, kClients)),
      rc::gen::set(&Step::n, rc::gen::inRange(1, 16)));
}

rc::Gen<Config> AnyConfig() {
  return rc::gen::build<Config>(
      rc::gen::set(&Config::mask, rc::gen::inRange<int>(0, std::size(kMasks))),
      rc::gen::set(&Config::stop_at_end, rc::gen::arbitrary<bool>()),
      rc::gen::set(&Config::clients, rc::gen::container<std::vector<std::pair<bool, int>>>(
                                         kClients, rc::gen::pair(rc::gen::arbitrary<bool>(),
                                                                 rc::gen::element(0, 1, 2, 3, 5)))),
      rc::gen::set(&Config::checks,
                   rc::gen::container<std::vector<int>>(kClients, rc::gen::inRange(0, 5))));
}

RC_GTEST_PROP(GeneratorModel, NoKeyIsHeldTwice, ()) {
  const Config config = *AnyConfig();
  const auto steps = *rc::gen::container<std::vector<Step>>(AnyStep());
  ++g_runs;
  const testing::ScratchFolder dir("model", std::string("Mem = memory:") + kDb + "\n");
  Run run(config);
  for (const Step& s : steps)
    run.Do(s);
}

}  // namespace
}  // namespace tgen
