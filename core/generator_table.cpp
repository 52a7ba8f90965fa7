// The generator's work on its table: opening and checking it, the generation cycle with its
// row lock, and undo.
//
// The lock lives in the row (core/rowlock.h holds its rules). Every decision about it is taken
// on the row as Edit fetched it, inside that edit, so that two clients can never both believe
// they hold a row, and a client whose lock was broken stores nothing.
#include <algorithm>
#include <exception>
#include <optional>
#include <thread>
#include <unordered_set>
#include <utility>

#include "core/generator.h"
#include "core/gentable.h"
#include "core/rowlock.h"
#include "core/timestamp.h"
#include "platform/base/convert.h"
#include "platform/base/notice.h"

namespace tgen {

namespace {

constexpr int kBusyNotice = 10;  // failed updates of a free row before the user is told

// The store failures that end a draw whatever the draw would do next: a lock time-out, a
// commit in doubt, the application's transaction gone.
bool EndsTheDraw(const Exception& e) {
  return e.Kind() == TErrorKind::kBusy || e.Kind() == TErrorKind::kOutcomeUnknown ||
         e.Kind() == TErrorKind::kTransactionLost;
}

// Runs one store operation of a draw in a transaction: what it returns, or nothing when the
// store failed (the attempt is then tried again); what ends a draw goes to the caller.
template <class Store>
std::optional<bool> TryStore(const Store& store) {
  try {
    return store();
  } catch (const EDatabaseError& e) {
    if (EndsTheDraw(e)) throw;
    return std::nullopt;
  }
}

// Rethrows the exception under way; a store's failure that ended a draw is told in the draw's
// words, of the same kind: what happened, and that the caller got nothing. The failures that
// end a draw say so already, and a taken key is told apart by its type.
[[noreturn]] void RethrowDrawFailure() {
  try {
    throw;
  } catch (const EDatabaseError& e) {
    if (EndsTheDraw(e) || e.Kind() == TErrorKind::kKeyTaken) throw;
    throw EDatabaseError("Can not generate a new value: " + e.Message() + "; no key was handed out",
                         e.Kind());
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Opening

void TGenerator::InitDB() {
  ReturnCache();
  SetScreenCursor(crAppStart);
  row_key_.clear();
  std::string reason;
  try {
    FTable->Close();
    FTable->SetDatabaseName(FDataBaseName);
    FTable->SetTableName(FTableName);
    FTable->Open();
    const std::string problems = GeneratorTableProblems(*FTable);
    if (problems.empty()) {
      SetScreenCursor(crDefault);
      return;
    }
    reason = "Bad table format: " + problems;
  } catch (const std::exception& e) {
    reason = e.what();
  } catch (...) {
    reason = "unknown error";
  }
  FTable->Close();
  SetScreenCursor(crDefault);
  ShowMessage("Error while opening generator table " + FTableName + "!\r\nCheck " + FDataBaseName +
              "!\r\n" + reason);
  FDisabled = true;
}

void TGenerator::InitDBIfChanged() {
  if (FTable->Active() && FTable->DatabaseName() == FDataBaseName &&
      FTable->TableName() == FTableName) {
    return;
  }
  InitDB();
}

// ---------------------------------------------------------------------------------------------
// The generation cycle

TmString TGenerator::Generator() {
  if (FDisabled) return {};
  if (cache_size_ > 1 && !FGenMask->GetSuffix().empty()) return FromCache();
  TmString key = DrawKeys(1).back();
  NoteDraw(1);
  return key;
}

std::string TGenerator::SequenceKey(const TmString& suffix) const {
  return std::to_string(FGeneratorType) + '\x1f' + FPrefix.str() + '\x1f' + suffix.str();
}

void TGenerator::NoteDraw(std::size_t keys) {
  // Nobody wrote the row between this client's last write and this draw: the suffix alone
  // could be the same after a round of the sequence drawn by others.
  const bool follows = keys == 1 && undo_from_ == TUndoFrom::kTable && after_own_write_ &&
                       !FTblSuffix.empty() && undo_row_ == SequenceKey(FTblSuffix);
  undo_depth_ = follows ? undo_depth_ + 1 : 1;
  undo_row_ = SequenceKey(FSuffix);
  undo_from_ = TUndoFrom::kTable;
}

TmString TGenerator::FromCache() {
  if (!cache_.Keys.empty() &&
      (cache_.Type != FGeneratorType || cache_.Prefix != FGenMask->GetPrefix())) {
    ReturnCache();  // another sequence now
  }
  if (cache_.Keys.empty()) {
    std::vector<TmString> keys = DrawKeys(cache_size_);
    cache_ = {};
    cache_.Type = FGeneratorType;
    cache_.Prefix = FPrefix;
    cache_.Before = FTblSuffix;
    cache_.Stored = FSuffix;
    cache_.Stamp = last_stamp_;
    for (std::size_t i = 0; i < keys.size(); ++i)
      cache_.Keys.push_back({keys[i], batch_suffixes_.at(i)});
  }
  cache_.Handed.push_back(cache_.Keys.front());
  cache_.Keys.pop_front();
  undo_from_ = TUndoFrom::kCache;
  return cache_.Handed.back().Key;
}

TmString TGenerator::UndoFromCache() {
  if (cache_.Handed.empty()) {
    UndoFailed();
    return {};
  }
  cache_.Keys.push_front(cache_.Handed.back());
  cache_.Handed.pop_back();
  if (!cache_.Handed.empty()) return cache_.Handed.back().Key;
  if (cache_.Before.empty()) return {};  // the first key of a new sequence
  FGenMask->SetPrefix(cache_.Prefix);
  FGenMask->SetSuffix(cache_.Before);
  return MakeKey();
}

void TGenerator::ReturnCache() noexcept {
  TKeyCache cache = std::exchange(cache_, {});
  // With the cache gone, an Undo works on the row, and only if the keys went back.
  if (undo_from_ == TUndoFrom::kCache) {
    undo_from_ = TUndoFrom::kTable;
    undo_depth_ = 0;
  }
  if (cache.Keys.empty()) return;
  // The row goes back to the last key handed out, so that the next draw gives the first one
  // kept here. A new sequence's whole reservation cannot go back before its start: lost.
  const TmString back_to = !cache.Handed.empty() ? cache.Handed.back().Suffix : cache.Before;
  if (back_to.empty() || !FTable->Active()) return;
  try {
    const TEditGuard edit(*FTable);
    row_key_.clear();  // the cursor moves
    if (!FTable->Locate(genfield::KeyFields,
                        {static_cast<double>(cache.Type), cache.Prefix.str()})) {
      return;
    }
    // Nobody drew since: the row still shows what the reservation stored.
    if (!rowlock::FreeAfter(*FTable, false, FWho, cache.Stamp) ||
        FTable->FieldByName(genfield::Suffix).AsString() != cache.Stored.str()) {
      return;
    }
    const std::string stamp = GetTimeStamp();
    FTable->EditUnlocked();
    FTable->FieldByName(genfield::Suffix).SetAsString(back_to.view());
    FTable->FieldByName(genfield::Time).SetAsString(stamp);
    if (FTable->PostIfUnchanged(genfield::WriteFields, std::chrono::seconds(max_wait_))) {
      // As if the keys kept had never been reserved: an Undo now hands back the last one
      // handed out.
      last_stamp_ = stamp;
      FGenMask->SetPrefix(cache.Prefix);
      FGenMask->SetSuffix(back_to);
      FPrefix = cache.Prefix;
      FSuffix = back_to;
      undo_depth_ = static_cast<int>(cache.Handed.size());
      undo_row_ = SequenceKey(back_to);
    }
  } catch (...) {
    // Not given back: the keys are a gap in the sequence.
  }
}

std::vector<TmString> TGenerator::GenerateBatch(int Count) {
  if (Count < 1)
    throw Exception("A batch holds at least one key, not " + std::to_string(Count),
                    TErrorKind::kBadInput);
  if (FDisabled) return {};
  const std::vector<TmString>& keys = DrawKeys(Count);
  // The caller now holds keys drawn after every key the cache handed out: none of those may
  // go back to the cache, and only the batch's last key may go back to the row (a second step
  // back would reach keys the cache still holds).
  if (!cache_.Handed.empty()) {
    cache_.Before = cache_.Handed.back().Suffix;
    cache_.Handed.clear();
  }
  NoteDraw(keys.size());
  return keys;
}

TmString TGenerator::GenerateIn(TAppTransaction& Transaction) {
  if (FDisabled) return {};
  // A cursor from an earlier transaction on the same connection serves again; otherwise the
  // table is opened inside this one and its layout checked.
  const std::string connection = Transaction.Reusable();
  if (!Transaction.Active()) throw EDatabaseError("The transaction has ended");
  if (!inside_ || connection.empty() || connection != inside_connection_ ||
      inside_table_ != FTableName) {
    inside_.reset();
    inside_row_key_.clear();
    auto inside = std::make_unique<TTable>();
    inside->SetTableName(FTableName);
    inside->SetOpener([&Transaction](const std::string& /*alias*/, const std::string& table) {
      return Transaction.OpenTable(table);
    });
    inside->Open();
    if (const std::string problems = GeneratorTableProblems(*inside); !problems.empty())
      throw Exception("Bad table format: " + problems, TErrorKind::kBadInput);
    inside_ = std::move(inside);
    inside_connection_ = connection;
    inside_table_ = FTableName;
  }

  // The draw of lmTransaction, on the cursor inside the transaction; the component's own
  // cursor, and the value, prefix, suffix and Time that its Undo works from, stay as they were.
  struct Saved {  // NOLINT(cppcoreguidelines-special-member-functions): a scope guard
    TGenerator& g;
    Position position;
    TLockMode mode;
    std::string last_stamp;
    bool contended;
    ~Saved() {
      g.RestorePosition(position);
      g.lock_mode_ = mode;
      g.in_app_transaction_ = false;
      g.last_stamp_ = std::move(last_stamp);
      g.contended_ = contended;
    }
  } saved{*this, SavePosition(), lock_mode_, last_stamp_, contended_};
  lock_mode_ = TLockMode::lmTransaction;
  in_app_transaction_ = true;
  contended_ = false;
  struct Swapped {  // NOLINT(cppcoreguidelines-special-member-functions): a scope guard
    TGenerator& g;
    Swapped(TGenerator& generator) : g(generator) {
      Swap();
    }  // NOLINT(google-explicit-constructor)
    ~Swapped() {
      Swap();
      // Kept only when it may serve again and nothing went wrong; otherwise let go now, while
      // the application's connection is surely open.
      if (g.inside_connection_.empty() || std::uncaught_exceptions() > 0) g.inside_.reset();
    }
    void Swap() {
      std::swap(g.FTable, g.inside_);
      std::swap(g.row_key_, g.inside_row_key_);
    }
  } swapped{*this};
  return DrawKeys(1).back();
}

const std::vector<TmString>& TGenerator::DrawKeys(int count) {
  // A failed draw leaves the component where the last successful call left it: the value,
  // and the prefix and suffix that Undo works on. Otherwise an Undo after a time-out would
  // step back from a value that was never handed out.
  const Position before = SavePosition();
  batch_size_ = count;
  try {
    Draw();
  } catch (...) {
    batch_size_ = 1;
    batch_keys_.clear();
    RestorePosition(before);
    RethrowDrawFailure();
  }
  batch_size_ = 1;
  return batch_keys_;
}

void TGenerator::StepBatch(bool from_current) {
  batch_keys_.clear();
  batch_suffixes_.clear();
  // Once the sequence restarted within the batch, every key is checked against those before
  // it: a batch longer than the sequence would hand one out twice.
  const int restarts = overflows_;
  std::unordered_set<std::string> seen;
  for (int i = 0; i < batch_size_; ++i) {
    if (i > 0 || !from_current) FGenMask->Increment();
    const TmString suffix = FGenMask->GetSuffix();
    if (overflows_ != restarts) {
      if (seen.empty()) {
        for (const TmString& s : batch_suffixes_)
          seen.insert(s.str());
      }
      if (!seen.insert(suffix.str()).second) {
        throw Exception(std::to_string(batch_size_) + " keys drawn at once would hand out " +
                            MakeKey().str() +
                            " twice: the sequence restarts before they end. Draw fewer at once",
                        TErrorKind::kBadInput);
      }
    }
    batch_keys_.push_back(MakeKey());
    batch_suffixes_.push_back(suffix);
  }
}

TmString TGenerator::MakeKey() const {
  const TmString value = FGenMask->GetMskValue();
  if (check_method_ == TCheckMethod::cmNone) return value;
  return TmString(value.str() + CheckCharacters(check_method_, value.view()));
}

TGenerator::Position TGenerator::SavePosition() const {
  return {FGenMask->CurrentPrefix(), FGenMask->GetSuffix(), FPrefix, FSuffix, FTblSuffix};
}

void TGenerator::RestorePosition(const Position& p) {
  FGenMask->SetPrefix(p.MaskPrefix);
  FGenMask->SetSuffix(p.MaskSuffix);
  FPrefix = p.Prefix;
  FSuffix = p.Suffix;
  FTblSuffix = p.TblSuffix;
}

void TGenerator::Draw() {
  after_own_write_ = false;  // until a path of the draw sees the row
  FPrefix = FGenMask->GetPrefix();
  FSuffix = FGenMask->GetSuffix();
  // Without a counting part there is nothing to store: the values as the prefix makes them.
  if (FSuffix.empty()) {
    batch_keys_ = {MakeKey()};
    for (int i = 1; i < batch_size_; ++i) {
      FGenMask->GetPrefix();
      batch_keys_.push_back(MakeKey());
    }
    return;
  }
  std::string why = FGenMask->DrawProblem();
  // The mask may have changed since the check method or the period format was set.
  if (why.empty()) why = CheckProblem(check_method_);
  if (why.empty()) why = PeriodProblem(period_format_);
  if (!why.empty())
    throw Exception("Can not draw from the mask '" + Mask() + "': " + why, TErrorKind::kBadInput);
  CheckFits(genfield::Prefix, FPrefix);
  CheckFits(genfield::Suffix, FSuffix);

  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(max_wait_);
  FTable->SetWaitLimit(std::chrono::seconds(max_wait_));
  // In lmTransaction the cursor may stand on this sequence's row from the last draw already:
  // the row is then taken at once, and looked for only when it is gone.
  const std::string key = std::to_string(FGeneratorType) + '\x1f' + FPrefix.str();
  const bool positioned = lock_mode_ == TLockMode::lmTransaction && row_key_ == key;
  row_key_.clear();
  if (!positioned) {
    if (!LocateRow()) {
      if (MakeNewRecord()) return;
      // Another client may have created the row first; then draw from it like everyone else.
      if (!LocateRow()) throw Exception("Can not generate new record!", TErrorKind::kStoreFailed);
    }
    CheckStoredSuffix(FTable->FieldByName(genfield::Suffix).AsString());
  }

  if (lock_mode_ == TLockMode::lmTransaction) {
    DrawInTransaction(give_up);
    row_key_ = key;
  } else {
    DrawWithRowFields(give_up);
  }
}

void TGenerator::ThrowBusy() const {
  throw Exception("Can not generate a new value: the row of table " + FTableName +
                      " stayed busy for " + std::to_string(max_wait_) + " seconds",
                  TErrorKind::kBusy);
}

void TGenerator::DrawWithRowFields(std::chrono::steady_clock::time_point give_up) {
  FTryCount = 0;
  try {
    for (;;) {
      if (ReadDATA()) {
        if (WriteDATA()) break;
      } else {
        Wait();
      }
      if (std::chrono::steady_clock::now() >= give_up) ThrowBusy();
    }
  } catch (...) {
    // Whatever ends the cycle early (a handler's exception, a damaged row) gives the lock back.
    ReleaseLock();
    throw;
  }
}

void TGenerator::DrawInTransaction(std::chrono::steady_clock::time_point give_up) {
  int failures = 0;  // attempts in a row that the store failed
  for (;;) {
    const auto left = std::max(std::chrono::milliseconds(0),
                               std::chrono::duration_cast<std::chrono::milliseconds>(
                                   give_up - std::chrono::steady_clock::now()));
    TStep step = TStep::kFailed;
    defer_notice_ = true;
    notice_deferred_ = false;
    try {
      step = StepInTransaction(left, !contended_);
    } catch (const ELockTimeout&) {
      defer_notice_ = false;
      ThrowBusy();
    } catch (const ECommitUnknown& e) {
      defer_notice_ = false;
      // Nothing was handed out: a draw on a fresh connection reads the row anew and steps past
      // the step if it was stored after all (a gap, never a repeat).
      if (in_app_transaction_ || !Reconnect(give_up)) {
        throw ECommitUnknown("Can not generate a new value: " + e.Message() +
                             "; no key was handed out");
      }
      failures = 0;
      continue;
    } catch (...) {
      defer_notice_ = false;
      throw;
    }
    defer_notice_ = false;
    if (step == TStep::kStored) {
      if (notice_deferred_) {
        // The key is stored: a notice that fails must not fail the draw, which would put the
        // value back while the row and its stamp stay stepped (a later Undo would then step
        // back from a key handed out before).
        try {
          ShowRestartNotice();
        } catch (...) {
        }
      }
      return;
    }
    if (std::chrono::steady_clock::now() >= give_up) ThrowBusy();
    if (step == TStep::kChanged) {
      // Another client drew since this one last looked: on a busy sequence the next attempts
      // queue for the row's lock instead of racing for it.
      contended_ = true;
      continue;
    }
    Wait();
    if (step != TStep::kFailed) continue;
    // A store that fails again and again may be a server that is gone or read-only (a failover
    // under way): from the second failure on, the draw goes on through a fresh connection.
    bool found = false;
    if (++failures < 2 || in_app_transaction_) {
      try {
        found = LocateRow();
      } catch (const EDatabaseError&) {
        if (in_app_transaction_ || !Reconnect(give_up)) throw;
        found = true;
      }
    } else {
      if (!Reconnect(give_up)) ThrowBusy();
      found = true;
    }
    if (!found) ThrowRowGone();
  }
}

bool TGenerator::OnOwnRow(bool fetched) const {
  TField& id = FTable->FieldByName(genfield::GenID);
  TField& prefix = FTable->FieldByName(genfield::Prefix);
  return (fetched ? id.FetchedAsFloat() : id.AsFloat()) == FGeneratorType &&
         (fetched ? prefix.FetchedAsString() : prefix.AsString()) == FPrefix.str();
}

TGenerator::TStep TGenerator::FindRowAgain() {
  FTable->Cancel();
  if (!LocateRow()) ThrowRowGone();
  return TStep::kChanged;
}

void TGenerator::ThrowRowGone() const {
  throw Exception("Can not generate a new value: the row of GenID " +
                      std::to_string(FGeneratorType) + " and prefix '" + FPrefix.str() +
                      "' in table " + FTableName + " is gone",
                  TErrorKind::kStoreFailed);
}

bool TGenerator::Reconnect(std::chrono::steady_clock::time_point give_up) {
  // Paced, so that a server starting up is not flooded with connection attempts: 500 rounds
  // of Wait (50 ms by default).
  const auto pause = wait_round_ * 500;
  for (;;) {
    if (std::chrono::steady_clock::now() + pause >= give_up) return false;
    std::this_thread::sleep_for(pause);
    try {
      FTable->Close();
      FTable->Open();
      FTable->SetWaitLimit(std::chrono::duration_cast<std::chrono::milliseconds>(
          give_up - std::chrono::steady_clock::now()));
      if (LocateRow()) return true;
      ThrowRowGone();
    } catch (const EDatabaseError&) {
      // Not reachable yet: try again while the draw may wait.
    }
  }
}

TGenerator::TStep TGenerator::StepInTransaction(std::chrono::milliseconds wait, bool optimistic) {
  const TEditGuard edit(*FTable);  // however the step ends, the row is not left in edit
  if (const std::optional<TAlphabets>& alphabets = FGenMask->SuffixAlphabets()) {
    // A counting part of plain counters (digits, letters, sets in order) steps as a counter
    // does: the store steps it itself, and holds the row no longer than its own update,
    // however busy the sequence. At the end of the sequence, on a row marked held, or on a
    // suffix of another shape it leaves the row alone, and the general way below takes over
    // from the row as it is now.
    const TmString& end = FGenMask->EndValue();
    std::string last = end.str();
    if (end.empty()) {
      for (const std::string& alphabet : *alphabets)
        last += alphabet.back();
    }
    // The highest suffix from which the whole batch still fits before the end.
    const std::optional<std::string> limit = AddInAlphabets(last, -batch_size_, *alphabets);
    const std::string stamp = GetTimeStamp();
    if (step_values_.empty()) {
      // The row must be the sequence's, and free: required, not set.
      step_required_ = {{genfield::GenID, 0.0},
                        {genfield::Prefix, std::string()},
                        {genfield::State, static_cast<double>(rowlock::kFree)}};
      step_values_ = {{genfield::Try, 0.0}, {genfield::Time, stamp}, {genfield::Who, FWho}};
    }
    step_required_[0].second = static_cast<double>(FGeneratorType);
    std::get<std::string>(step_required_[1].second) = FPrefix.str();
    std::get<std::string>(step_values_[1].second) = stamp;
    const std::optional<bool> stepped = !limit ? std::optional<bool>(false) : TryStore([&] {
      return FTable->IncrementIf(genfield::Suffix, batch_size_, *limit, *alphabets, step_required_,
                                 step_values_, wait);
    });
    if (!stepped) return TStep::kFailed;
    if (*stepped) {
      after_own_write_ = false;  // the store stepped the row unseen
      // The engine walks the same steps from the suffix before, for the keys.
      FSuffix = FTable->FieldByName(genfield::Suffix).AsString();
      FTblSuffix = AddInAlphabets(FSuffix.view(), -batch_size_, *alphabets).value_or("");
      FGenMask->SetSuffix(FTblSuffix);
      StepBatch();
      last_stamp_ = stamp;
      return TStep::kStored;
    }
    if (!OnOwnRow(false)) return FindRowAgain();
  }

  // A draw that restarts the sequence runs the application's handlers (OnOverFlowMask,
  // OnNewRecord), which may be slow: never while the row is locked, where they would hold
  // every other client (and a server ends a session idle in its transaction).
  const bool free = !rowlock::Held(*FTable, false);
  if (!optimistic && free && WouldRestart(FTable->FieldByName(genfield::Suffix).AsString())) {
    optimistic = true;
  }
  if (optimistic && free) {
    // Free when last seen: the next value is stored in one commit if nobody changed the row
    // since, without taking the row beforehand (one round trip to a server). A row that
    // changed is seen as it is now: another sequence's, it is found again.
    if (!OnOwnRow(false)) return FindRowAgain();
    FTable->EditUnlocked();
    const std::string stamp = StepFromFetched();
    const std::optional<bool> stored =
        TryStore([&] { return FTable->PostIfUnchanged(genfield::WriteFields, wait); });
    if (!stored) return TStep::kFailed;
    if (!*stored) return TStep::kChanged;
    last_stamp_ = stamp;
    return TStep::kStored;
  }

  // Taken under the row's lock: a busy sequence, or a row marked held by a client of the
  // row-field cycle, judged by that cycle's rules. A stale lock is broken by drawing over it;
  // its holder then finds the lock not its own and stores nothing.
  const std::string seen = FTable->FieldByName(genfield::Time).AsString() + '\x1f' +
                           FTable->FieldByName(genfield::Who).AsString();
  if (!TryStore([&] {
        FTable->EditWaiting(wait);
        return true;
      })) {
    return TStep::kFailed;
  }
  if (!OnOwnRow(true)) return FindRowAgain();  // the edit ends with the guard
  // Nobody wrote since this client last looked: the sequence is quiet again.
  if (FTable->FieldByName(genfield::Time).FetchedAsString() + '\x1f' +
          FTable->FieldByName(genfield::Who).FetchedAsString() ==
      seen) {
    contended_ = false;
  }
  if (rowlock::Held(*FTable, true) && !rowlock::Stale(*FTable, true)) {
    TField& tries = FTable->FieldByName(genfield::Try);
    tries.SetAsFloat(tries.FetchedAsFloat() + 1);
    try {
      FTable->Post();
    } catch (const EDatabaseError&) {
    }
    return TStep::kCounted;
  }
  const std::string stamp = StepFromFetched();
  try {
    FTable->Post();
  } catch (const ECommitUnknown&) {
    throw;
  } catch (const EDatabaseError&) {
    return TStep::kFailed;
  }
  last_stamp_ = stamp;
  return TStep::kStored;
}

bool TGenerator::WouldRestart(const std::string& stored) const {
  if (!FGenMask->Fits(stored)) return false;  // refused later, with its reason
  TGenMask probe = *FGenMask;                 // steps without the handlers
  bool restarts = false;
  probe.OnGetPROC = {};
  probe.OnOverFlow = [&restarts](TObject*, TmString) { restarts = true; };
  probe.SetSuffix(stored);
  for (int i = 0; i < batch_size_ && !restarts; ++i)
    probe.Increment();
  return restarts;
}

std::string TGenerator::StepFromFetched() {
  after_own_write_ = FTable->FieldByName(genfield::Time).FetchedAsString() == last_stamp_ &&
                     FTable->FieldByName(genfield::Who).FetchedAsString() == FWho;
  const std::string stored = FTable->FieldByName(genfield::Suffix).FetchedAsString();
  CheckStoredSuffix(stored);
  FTblSuffix = stored;
  FGenMask->SetSuffix(FTblSuffix);
  StepBatch();
  FSuffix = FGenMask->GetSuffix();
  CheckFits(genfield::Suffix, FSuffix);
  std::string stamp = GetTimeStamp();
  FTable->FieldByName(genfield::Suffix).SetAsString(FSuffix.view());
  rowlock::WriteFree(*FTable, FWho, stamp);
  return stamp;
}

void TGenerator::EditRow() {
  if (lock_mode_ == TLockMode::lmTransaction) {
    FTable->EditWaiting(std::chrono::seconds(max_wait_));
  } else {
    // The row-field cycle holds the store's lock for one short edit at a time, and so does
    // every other client: it waits its turn for that lock, a second at the most, instead of
    // failing at once. On a busy sequence, whose row is in some client's edit nearly all the
    // time, a client that never waited would never get the row.
    FTable->EditWaiting(std::chrono::seconds(1));
  }
}

void TGenerator::CheckStoredSuffix(const std::string& stored) const {
  // Two masks with one prefix and GeneratorType share a row; a suffix of another mask's shape
  // would step into keys that are no keys at all.
  if (FGenMask->Fits(stored)) return;
  throw Exception("The row of GenID " + std::to_string(FGeneratorType) + " and prefix '" +
                      FPrefix.str() + "' in table " + FTableName + " holds the suffix '" + stored +
                      "', which does not fit the mask '" + Mask() +
                      "'; give this mask a GeneratorType of its own",
                  TErrorKind::kBadInput);
}

bool TGenerator::LocateRow() {
  row_key_.clear();  // the cursor moves: the next draw looks for its row again
  return FTable->Locate(genfield::KeyFields, {static_cast<double>(FGeneratorType), FPrefix.str()});
}

void TGenerator::CheckFits(const char* field, const TmString& text) const {
  const TField* f = FTable->FindField(field);
  if (f == nullptr || f->DataType() != TFieldType::ftString) return;
  const auto room = static_cast<std::size_t>(f->DataSize() - 1);
  if (text.size() > room) {
    throw Exception(std::string(field) + " '" + text.str() + "' is longer than the " +
                        std::to_string(room) + " characters that field " + field + " of table " +
                        FTableName + " holds",
                    TErrorKind::kBadInput);
  }
}

bool TGenerator::ReadDATA() {
  TField& state = FTable->FieldByName(genfield::State);
  if (!rowlock::Held(*FTable, false)) {
    // A free row: mark it held, then make it ours.
    TField& who = FTable->FieldByName(genfield::Who);
    bool marked = false;
    std::string who_before;
    try {
      const TEditGuard edit(*FTable);
      EditRow();
      if (rowlock::Held(*FTable, true)) return false;  // taken by another client since read
      who_before = who.FetchedAsString();
      state.SetAsFloat(rowlock::kHeld);
      FTable->Post();
      FTryCount = 0;
      marked = true;
    } catch (const std::exception&) {
      if (++FTryCount < kBusyNotice) return false;
      MessageBox("System is busy. Try again!", "Generator", MB_ICONINFORMATION);
    }

    std::string stored;
    try {
      const TEditGuard edit(*FTable);
      EditRow();
      // Ours only while nobody broke the mark and took the row meanwhile.
      const bool ours =
          marked ? state.FetchedAsFloat() == rowlock::kHeld && who.FetchedAsString() == who_before
                 : !rowlock::Held(*FTable, true);
      if (!ours) return false;
      // The mark changed State only: Who and Time are still the last writer's.
      after_own_write_ = who.FetchedAsString() == FWho &&
                         FTable->FieldByName(genfield::Time).FetchedAsString() == last_stamp_;
      const std::string stamp = GetTimeStamp();
      rowlock::WriteHeld(*FTable, FWho, stamp);
      FTable->Post();
      FTryCount = 0;
      holds_lock_ = true;
      lock_stamp_ = stamp;
      stored = FTable->FieldByName(genfield::Suffix).AsString();
    } catch (const std::exception&) {
      if (++FTryCount >= kBusyNotice) {
        MessageBox("System is busy. Try again!", "Generator", MB_ICONINFORMATION);
      }
      return false;
    }
    if (!FGenMask->Fits(stored)) {
      ReleaseLock();
      CheckStoredSuffix(stored);
    }
    FTblSuffix = stored;
    FSuffix = FTblSuffix;
    FGenMask->SetSuffix(FSuffix);
    return true;
  }

  // A held row: break the lock when it is stale, else count the attempt.
  TField& tries = FTable->FieldByName(genfield::Try);
  TField& time = FTable->FieldByName(genfield::Time);
  TField& who = FTable->FieldByName(genfield::Who);
  const std::string judged_time = time.AsString();
  const std::string judged_who = who.AsString();
  const bool stale = rowlock::Stale(*FTable, false);
  try {
    const TEditGuard edit(*FTable);
    EditRow();
    // Judged on what was read: if the row changed hands since, judge it again next time.
    if (!rowlock::Held(*FTable, true) || time.FetchedAsString() != judged_time ||
        who.FetchedAsString() != judged_who) {
      return false;
    }
    if (stale) {
      state.SetAsFloat(rowlock::kFree);
    } else {
      tries.SetAsFloat(tries.FetchedAsFloat() + 1);
    }
    FTable->Post();
  } catch (const std::exception&) {
    Wait();
  }
  return false;
}

bool TGenerator::WriteDATA() {
  const TmString saved = FSuffix;
  // Stepped before the row is taken, so that an overflow notice never keeps others waiting.
  StepBatch();
  FSuffix = FGenMask->GetSuffix();
  try {
    const TEditGuard edit(*FTable);
    CheckFits(genfield::Suffix, FSuffix);
    EditRow();
    if (!rowlock::HeldBy(*FTable, true, FWho, lock_stamp_)) {
      // The lock was broken and maybe taken by another client: store nothing.
      holds_lock_ = false;
      FSuffix = saved;
      return false;
    }
    const std::string stamp = GetTimeStamp();
    FTable->FieldByName(genfield::Suffix).SetAsString(FSuffix.view());
    rowlock::WriteFree(*FTable, FWho, stamp);
    FTable->Post();
    holds_lock_ = false;
    last_stamp_ = stamp;
    return true;
  } catch (const std::exception&) {
    // A failed store, or one whose commit was reported lost (ECommitUnknown): the next attempt
    // reads the row afresh, so a value that was stored after all is stepped past (a gap in the
    // sequence), never handed out twice.
    FSuffix = saved;
    return false;
  }
}

bool TGenerator::MakeNewRecord() {
  try {
    NullRecord();
  } catch (const ERestartRefused&) {
    throw;  // its own reason says more than that the row could not be made
  } catch (const std::exception&) {
    return false;
  }
  // A new sequence hands out its start first; a batch goes on from there.
  StepBatch(true);
  FSuffix = FGenMask->GetSuffix();
  CheckFits(genfield::Prefix, FPrefix);
  CheckFits(genfield::Suffix, FSuffix);
  try {
    const TEditGuard insert(*FTable);
    const std::string stamp = GetTimeStamp();
    FTable->Insert();
    FTable->FieldByName(genfield::GenID).SetAsFloat(FGeneratorType);
    FTable->FieldByName(genfield::Prefix).SetAsString(FPrefix.view());
    FTable->FieldByName(genfield::Suffix).SetAsString(FSuffix.view());
    rowlock::WriteFree(*FTable, FWho, stamp);
    FTable->Post();
    last_stamp_ = stamp;
    FTblSuffix.clear();  // no row before this one
    after_own_write_ = false;
    return true;
  } catch (const ELockTimeout&) {
    // Another client adds the same row and has not finished.
    ThrowBusy();
  } catch (const ETransactionLost&) {
    throw;
  } catch (const std::exception&) {
    return false;
  }
}

void TGenerator::ReleaseLock() noexcept {
  if (!holds_lock_) return;
  holds_lock_ = false;
  try {
    const TEditGuard edit(*FTable);
    EditRow();
    if (rowlock::HeldBy(*FTable, true, FWho, lock_stamp_)) {
      FTable->FieldByName(genfield::State).SetAsFloat(rowlock::kFree);
      FTable->Post();
    }
  } catch (...) {
    // The others break a lock that is never given back once it is stale.
  }
}

void TGenerator::Wait() {
  // Sleeping, not spinning: on a small machine the holder needs the processor to finish.
  std::this_thread::sleep_for(wait_round_ * (FWaitCount + 1));
}

// ---------------------------------------------------------------------------------------------
// Undo

TmString TGenerator::Undo() {
  if (FDisabled) return {};
  if (undo_from_ == TUndoFrom::kCache) return UndoFromCache();
  const TmString result = MakeKey();
  if (undo_depth_ == 0) {
    UndoFailed();
    return result;
  }
  // Free, and last written by this client: nobody drew since.
  if (!LocateRow() || !rowlock::FreeAfter(*FTable, false, FWho, last_stamp_)) {
    UndoFailed();
    return result;
  }

  bool stepped_back = false;
  std::string stamp_tried;
  try {
    {
      const TEditGuard edit(*FTable);
      EditRow();
      // Checked again inside the edit: another client may have drawn since the row was read.
      if (rowlock::FreeAfter(*FTable, true, FWho, last_stamp_)) {
        FGenMask->Decrement();
        stepped_back = true;
        const std::string stamp = GetTimeStamp();
        stamp_tried = stamp;
        FTable->FieldByName(genfield::Suffix).SetAsString(FGenMask->GetSuffix().view());
        FTable->FieldByName(genfield::Time).SetAsString(stamp);
        FTable->Post();
        last_stamp_ = stamp;
        --undo_depth_;
        undo_row_ = SequenceKey(FGenMask->GetSuffix());
        return MakeKey();
      }
    }
    UndoFailed();  // told once the row is given back
    return result;
  } catch (const ECommitUnknown&) {
    // The step back may have been stored, and then the key goes to the next client who draws:
    // the caller must not keep it, so the undo counts as done. Had it not been stored, the
    // key is only a gap in the sequence.
    last_stamp_ = stamp_tried;
    --undo_depth_;
    undo_row_ = SequenceKey(FGenMask->GetSuffix());
    return MakeKey();
  } catch (const std::exception&) {
    UndoFailed();
    if (stepped_back) FGenMask->Increment();
    return result;
  }
}

void TGenerator::UndoFailed() {
  if (OnUndoFailed.Assigned()) {
    OnUndoFailed(this, MakeKey());
  } else {
    ShowMessage("Can NOT undo!");
  }
}

}  // namespace tgen
