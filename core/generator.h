// TGenerator: the component that hands out key values built from a mask, drawing them from
// sequences kept in a shared generator table.
//
// It owns its mask engine and passes Mask, StartValue and EndValue through to it, checking
// that the start sorts before the end; it forwards the engine's requests for user-procedure
// text to GetUserPrefixes and its overflows to OnOverFlowMask; it identifies itself by the
// time stamp of its creation. The table is named by DataBaseName and TableName, two values
// stored with the component beside its published properties, and opened by InitDB, which
// Loaded() calls when the component was read from a stored form (a component created by code
// calls it itself).
//
// One instance is used by one thread at a time; separate instances may be used from separate
// threads. Refusals are shown through the notice seam with the caption "Generator
// Information".
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/checkchar.h"
#include "core/genmask.h"
#include "core/gentable.h"
#include "core/period.h"
#include "platform/base/tmstring.h"
#include "platform/model/component.h"
#include "platform/store/dataset.h"

namespace tgen {

using TStringList = std::vector<std::string>;

// How a draw guards its sequence's row against other clients.
enum class TLockMode : std::uint8_t {
  // The lock lives in the row's fields: a client marks the row held (State 1, Who, Time) in
  // one short store transaction, stores its value and frees the row in another, and clients
  // that find a row held count their attempts in Try and break a lock that is stale. Three
  // durable commits a key; a dead client's mark stays until the others break it.
  lmRowFields,
  // The store's own lock guards the row: one transaction and one durable commit a key, waiting
  // in the store's queue for the row. A killed client's lock ends with its connection. A row
  // that a client of lmRowFields marked held is waited for and broken by that mode's rules, so
  // both modes may share a table.
  lmTransaction,
};

class TGenerator : public TComponent {
 public:
  static constexpr std::string_view StaticClassName = "TGenerator";
  static constexpr std::string_view DefaultDataBaseName = TSession::DefaultAliasName;
  static constexpr std::string_view DefaultTableName = DefaultGeneratorTable;

  explicit TGenerator(TComponent* AOwner = nullptr);
  ~TGenerator() override;
  TGenerator(const TGenerator&) = delete;
  TGenerator& operator=(const TGenerator&) = delete;

  [[nodiscard]] std::string_view ClassName() const override { return StaticClassName; }
  [[nodiscard]] const TPropList& Properties() const override { return ClassProperties(); }
  // Mask, StartValue, EndValue, GeneratorType, Tag (read-only), MaxWait, LockMode and the four
  // events.
  static const TPropList& ClassProperties();

  // --- Published properties -------------------------------------------------------------------

  [[nodiscard]] const std::string& Mask() const { return FMask; }
  // Parses the mask (a malformed one throws the parser's Exception; Mask keeps the text). An
  // empty mask disables the component; a non-empty one leaves that as it is.
  void SetMask(const std::string& Value);

  [[nodiscard]] const TmString& StartValue() const { return FStartValue; }
  // Dropped while no mask is parsed. A start that does not sort before EndValue is refused
  // with a message and disables the component; a pair in order enables it.
  void SetStartValue(const TmString& Value);

  [[nodiscard]] const TmString& EndValue() const { return FEndValue; }
  // Why SetStartValue and SetEndValue would refuse these bounds (an empty one is no bound),
  // without telling anyone: a bound that does not fit the mask, or a start that does not sort
  // before the end. Empty when both would be kept.
  [[nodiscard]] std::string BoundsProblem(const TmString& Start, const TmString& End) const;
  // The empty text removes the end, from the engine too. A non-empty end is dropped while no
  // mask is parsed; one that does not sort after StartValue empties StartValue, with a message,
  // and disables the component.
  void SetEndValue(const TmString& Value);

  // The GenID of this component's rows in the generator table.
  [[nodiscard]] std::int32_t GeneratorType() const { return FGeneratorType; }
  void SetGeneratorType(std::int32_t Value);

  // Always 0 and read-only on a generator (it hides the component's writable tag).
  [[nodiscard]] std::int32_t Tag() const { return FTagValue; }

  // How long, in seconds, Generator keeps trying to take a busy row before it gives up with
  // an Exception. Default 30.
  [[nodiscard]] std::int32_t MaxWait() const { return max_wait_; }
  void SetMaxWait(std::int32_t Value);

  // Keys reserved at a time. 0 (the default, stored in no form) or 1: every key is drawn from
  // the table. N > 1: a call that finds the cache empty reserves the next N keys in one cycle,
  // as GenerateBatch does, and hands out the first; the following calls hand out the rest
  // without touching the table. Keys left when the component goes, or when its mask, bounds,
  // type, table, cache size or prefix change, go back to the row if nobody drew from it
  // since, and are lost otherwise: a gap, never a repeat. A sequence that must have no gaps
  // must not use a cache. Exception for a negative size.
  [[nodiscard]] std::int32_t CacheSize() const { return cache_size_; }
  void SetCacheSize(std::int32_t Value);
  // Keys reserved and not handed out yet.
  [[nodiscard]] std::size_t CachedKeys() const { return cache_.Keys.size(); }

  // How the row is guarded while a key is drawn or undone; lmRowFields by default.
  [[nodiscard]] TLockMode LockMode() const { return lock_mode_; }
  void SetLockMode(TLockMode Value) { lock_mode_ = Value; }
  // The check characters appended to every key handed out (core/checkchar.h); they are not
  // stored in the row, so clients that know no check draw from the same sequence. Exception
  // (kBadInput) when the mask's keys with them would pass 100 characters.
  [[nodiscard]] TCheckMethod CheckMethod() const { return check_method_; }
  void SetCheckMethod(TCheckMethod Value);
  // The '@' places filled from the draw's date (core/period.h), before GetUserPrefixes, which
  // may still change the text: each period is a sequence of its own. Empty: not filled.
  // Exception (kBadInput) when the format does not fill the mask's '@' places exactly.
  [[nodiscard]] const std::string& PeriodFormat() const { return period_format_; }
  void SetPeriodFormat(const std::string& Value);
  // The month (1-12) in which fiscal years begin, for the period tokens BB and EE.
  [[nodiscard]] std::int32_t FiscalYearStart() const { return fiscal_year_start_; }
  void SetFiscalYearStart(std::int32_t Value);
  // The date whose period a draw takes: today unless a date is given (the document's date, so
  // that an invoice dated 31 December and entered on 2 January belongs to the old year).
  [[nodiscard]] TDate DrawDate() const { return draw_date_.value_or(Today()); }
  void SetDrawDate(std::optional<TDate> Value) { draw_date_ = Value; }

  // --- Events (Sender is the generator) -----------------------------------------------------

  TGenProcEvent GetUserPrefixes;   // supplies the text of the mask's "@" places
  TGOverFlowEvent OnOverFlowMask;  // the sequence ran past its end; replaces the restart
  TOnNewRecord OnNewRecord;        // a sequence restarts; replaces the engine's reset
  TGOverFlowEvent OnUndoFailed;    // an undo was refused

  // --- Stored values ------------------------------------------------------------------------

  [[nodiscard]] const std::string& DataBaseName() const { return FDataBaseName; }
  void SetDataBaseName(std::string Value);
  [[nodiscard]] const std::string& TableName() const { return FTableName; }
  void SetTableName(std::string Value);

  // --- State --------------------------------------------------------------------------------

  // A disabled component hands out no values and undoes nothing.
  [[nodiscard]] bool Disabled() const { return FDisabled; }
  // The identity: the 17-digit time stamp of the instance's creation, unique in the process.
  [[nodiscard]] const std::string& Who() const { return FWho; }
  [[nodiscard]] std::int32_t WaitCount() const { return FWaitCount; }
  [[nodiscard]] const TGenMask& GenMask() const { return *FGenMask; }
  // Scratch lists of the designer's alias and table editors; null unless the component was
  // created in the designing state.
  [[nodiscard]] TStringList* AliasNames() const { return FAliasNames.get(); }
  [[nodiscard]] TStringList* TableNames() const { return FTableNames.get(); }

  // --- Operations ---------------------------------------------------------------------------

  // Opens the generator table named by DataBaseName and TableName and checks its layout.
  // When that fails it shows why in the message window and disables the component; no error
  // leaves it.
  virtual void InitDB();
  // InitDB when the table is not open, or DataBaseName or TableName changed since it was
  // opened (another table chosen at design time); otherwise nothing.
  void InitDBIfChanged();
  // The next key value of the sequence that GeneratorType and the current prefix select,
  // stored in the generator table; empty while disabled. A new sequence gets its row and
  // starts at the start value. Throws Exception "Can not generate new record!" when the row
  // cannot be made, and another Exception when the row stays busy for MaxWait seconds; after
  // any failure the component holds the value, prefix and suffix of its last successful call,
  // so that Undo still hands back the last value it drew.
  virtual TmString Generator();
  // `Count` consecutive keys of the sequence, drawn in one lock cycle (one commit in
  // lmTransaction): the overflow rules and events apply at every step as for single draws,
  // the row stores the last, and nothing is returned before that is stored. A failure returns
  // none and stores nothing, as Generator. Undo afterwards hands back the last key only.
  // Exception for a Count below 1; empty while disabled.
  std::vector<TmString> GenerateBatch(int Count);
  // The next key of the sequence, drawn inside `Transaction`: a transaction that the
  // application holds on its own connection (TSqliteTransaction, TPgTransaction) to the
  // database that holds the generator table TableName. The row is taken and stepped there as
  // in lmTransaction, and nothing is committed here: when the application commits, its
  // records and the step are stored as one; when it rolls back, the key goes back to its
  // sequence, so that a sequence drawn only this way has no gaps. The row stays locked until
  // the transaction ends (every other client of the sequence waits for it, up to its
  // MaxWait). The key cache is not used, and the component's own draws are left as they were
  // (Undo still hands back what Generator drew). Empty while disabled; throws as Generator,
  // "Bad table format" for a table of another layout, and ETransactionLost when the
  // transaction can go no further.
  TmString GenerateIn(TAppTransaction& Transaction);
  // Hands the last value back to its sequence while nobody has drawn from it since, and
  // returns the value before it; otherwise tells OnUndoFailed (or shows "Can NOT undo!") and
  // returns the current value. With a cache, the last key handed out goes back to the front
  // of the cache, for the next call, and nothing is written; only keys handed out from the
  // current reservation can go back (else the refusal, returning nothing). Empty while
  // disabled.
  virtual TmString Undo();
  // Gives the reserved keys not handed out back to the row, in one guarded update, when the
  // row still shows this component's reservation (nobody drew since); otherwise drops them.
  // Never throws. Called by the changes that end a reservation and by the destructor.
  void ReturnCache() noexcept;
  // Restarts the sequence: OnNewRecord, or else the engine's reset; then takes the new prefix
  // and suffix from the engine. A handler may restart the engine itself or change nvSuffix,
  // which the engine then takes; a restart that does not fit the mask throws ERestartRefused.
  virtual void NullRecord();
  // Pauses between two attempts on a row that another client holds: WaitCount() + 1 rounds,
  // sleeping, so that the holder has the processor.
  virtual void Wait();
  // One attempt to take the row's lock; true when this client now holds it and has loaded
  // the stored suffix.
  virtual bool ReadDATA();
  // Steps the value, stores it and releases the lock; false when the lock is no longer this
  // client's or the store failed.
  bool WriteDATA();
  // Creates the row of a new sequence at its start; false when the row cannot be stored.
  bool MakeNewRecord();
  // How long one round of Wait lasts.
  [[nodiscard]] std::chrono::nanoseconds WaitRound() const { return wait_round_; }
  void SetWaitRound(std::chrono::nanoseconds Value) { wait_round_ = Value; }
  // The cursor on the generator table.
  [[nodiscard]] TTable& Table() const { return *FTable; }
  // Whether a lock whose Time text is `T` counts as timed out (rowlock::TimedOut).
  bool CheckTimeOut(const TmString& T);

  // Opens the table once the component has been read from a stored form.
  void Loaded() override;
  // Stores DataBaseName and TableName, always, after the component's own values.
  void DefineProperties(TFiler& Filer) override;

  // The handlers put into the engine's slots.
  void pGetPROC(TObject* Sender, TmString& Preff);
  void pOverFlow(TObject* Sender, TmString ovSuffix);

 protected:
  // Shared with the operations on the generator table.
  std::unique_ptr<TTable> FTable;
  std::unique_ptr<TGenMask> FGenMask;
  TmString FPrefix;
  TmString FSuffix;
  TmString FTblSuffix;
  std::int32_t FTryCount = 0;
  bool FDisabled = false;
  std::string FWho;

 private:
  // What a failed draw puts back.
  struct Position {
    TmString MaskPrefix, MaskSuffix;  // the engine's current value
    TmString Prefix, Suffix, TblSuffix;
  };
  [[nodiscard]] Position SavePosition() const;
  void RestorePosition(const Position& p);
  // Generator and GenerateBatch: Draw, and the position put back on failure.
  // The keys drawn, valid until the next draw.
  const std::vector<TmString>& DrawKeys(int count);
  // The draw itself, of batch_size_ keys into batch_keys_.
  void Draw();
  // Steps the engine batch_size_ times from where it stands, keeping each value in batch_keys_
  // and batch_suffixes_; `from_current`: the value it stands on is the first key. Exception,
  // before anything is stored, when the keys would repeat.
  void StepBatch(bool from_current = false);
  // The key handed out for the engine's value as it stands: every key that leaves the
  // generator, drawn, reserved, undone or told to OnUndoFailed, is made here.
  [[nodiscard]] TmString MakeKey() const;
  // Why keys of this mask cannot carry the check of `method`; empty when they can.
  [[nodiscard]] std::string CheckProblem(TCheckMethod method) const;
  // Why `format` cannot fill this mask's '@' places; empty when it can (or is empty).
  [[nodiscard]] std::string PeriodProblem(const std::string& format) const;
  // Generator with a cache: the next reserved key, reserving when there is none.
  TmString FromCache();
  // Undo with a cache.
  TmString UndoFromCache();
  // The cycle of lmRowFields: ReadDATA, WriteDATA and Wait until the value is stored.
  void DrawWithRowFields(std::chrono::steady_clock::time_point give_up);
  // lmTransaction: one store transaction a draw, until the value is stored. A draw that failed
  // before any key was handed out (the server gone or read-only, a commit in doubt) goes on
  // through a fresh connection until `give_up`, so that a failover is a pause.
  void DrawInTransaction(std::chrono::steady_clock::time_point give_up);
  // Opens the table afresh and finds the draw's row, trying until `give_up`; false when the
  // time ran out first.
  bool Reconnect(std::chrono::steady_clock::time_point give_up);
  enum class TStep : std::uint8_t {
    kStored,   // the next value is stored
    kChanged,  // the row changed since it was last fetched; fetched afresh now
    kCounted,  // held by a client of lmRowFields: the attempt was counted in Try
    kFailed,   // the store failed
  };
  // One attempt of DrawInTransaction, within `wait`. Ends any edit it began, except when it
  // throws.
  // `optimistic`: a free row is stored without taking it first, if unchanged.
  TStep StepInTransaction(std::chrono::milliseconds wait, bool optimistic);
  // Whether the cursor's row (as last fetched, or as the edit fetched it) is still this draw's
  // sequence's: a row that a store names by an id may have been deleted since, and its id given
  // to another sequence's row.
  [[nodiscard]] bool OnOwnRow(bool fetched) const;
  // Finds this sequence's row again, for the next attempt; throws when it is gone.
  TStep FindRowAgain();
  // Whether stepping the batch on from `stored` would restart the sequence.
  [[nodiscard]] bool WouldRestart(const std::string& stored) const;
  // Steps the engine from the suffix last fetched and sets the row's pending fields to the
  // new value, free and written by this client; returns the Time written.
  std::string StepFromFetched();
  // Tells the user that the sequence restarted at its start value.
  static void ShowRestartNotice();
  // Takes the current row for an edit, waiting for another client's edit of it to end: up to a
  // second in lmRowFields (whose clients edit only for a moment), up to MaxWait in
  // lmTransaction.
  void EditRow();
  [[noreturn]] void ThrowBusy() const;
  [[noreturn]] void ThrowRowGone() const;
  [[noreturn]] void RefuseRestart(const TmString& suffix) const;
  bool LocateRow();
  // Refuses a stored suffix that does not fit the mask.
  void CheckStoredSuffix(const std::string& stored) const;
  // Refuses a prefix or suffix that its field cannot hold whole.
  void CheckFits(const char* field, const TmString& text) const;
  // Gives back a lock that this client still holds, leaving the stored suffix as it was.
  void ReleaseLock() noexcept;
  void UndoFailed();
  void ReadDBData(TReader& Reader) { FDataBaseName = Reader.ReadString(); }
  void WriteDBData(TWriter& Writer) const { Writer.WriteString(FDataBaseName); }
  void ReadTblData(TReader& Reader) { FTableName = Reader.ReadString(); }
  void WriteTblData(TWriter& Writer) const { Writer.WriteString(FTableName); }
  // Both bounds set: enables the component when they are in order, otherwise refuses them.
  void CheckBounds(const char* refusal);

  std::int32_t FTagValue = 0;
  std::string FMask;
  TmString FStartValue;
  TmString FEndValue;
  std::int32_t FGeneratorType = 0;
  std::string FDataBaseName;
  std::unique_ptr<TStringList> FAliasNames;
  std::unique_ptr<TStringList> FTableNames;
  std::string FTableName;
  std::int32_t FWaitCount = 0;
  std::int32_t max_wait_ = 30;
  std::chrono::nanoseconds wait_round_;
  TLockMode lock_mode_ = TLockMode::lmRowFields;
  TCheckMethod check_method_ = TCheckMethod::cmNone;
  std::string period_format_;
  std::int32_t fiscal_year_start_ = 1;
  std::optional<TDate> draw_date_;
  int batch_size_ = 1;                    // keys the draw under way hands out
  std::vector<TmString> batch_keys_;      // and the keys it stepped through,
  std::vector<TmString> batch_suffixes_;  // with their suffixes
  // What the store's own step of a decimal suffix requires of the row and sets in it: built
  // once, only the stamp changes from draw to draw.
  TTable::TNamedValues step_required_;
  TTable::TNamedValues step_values_;
  std::int32_t cache_size_ = 0;
  struct TCacheEntry {
    TmString Key, Suffix;
  };
  // The keys of one reservation, and what tells whether the row still shows it.
  struct TKeyCache {
    std::deque<TCacheEntry> Keys;     // reserved, not handed out yet, in order
    std::vector<TCacheEntry> Handed;  // handed out from this reservation, in order
    std::int32_t Type = 0;            // the sequence: GenID and prefix
    TmString Prefix;
    TmString Before;    // the row's suffix before the reservation; empty for a new row
    TmString Stored;    // the suffix the reservation stored
    std::string Stamp;  // and the Time it wrote
  };
  TKeyCache cache_;
  // What Undo hands back: a key of the row, or the last key handed out of the cache.
  enum class TUndoFrom : std::uint8_t { kTable, kCache };
  TUndoFrom undo_from_ = TUndoFrom::kTable;
  // How many keys an Undo on the row may still hand back: the keys this client drew one
  // right after another, with nobody drawing between (of a batch, only its last). A step back
  // past them would hand back a key that someone else, or the cache, still holds.
  int undo_depth_ = 0;
  std::string undo_row_;  // the sequence and the suffix this client last left its row at
  // The draw under way found the row as this client last wrote it (its Who and Time); false
  // when the store stepped the row without showing it.
  bool after_own_write_ = false;
  [[nodiscard]] std::string SequenceKey(const TmString& suffix) const;
  // After a draw from the row that handed out `keys`: how far an Undo may now go back.
  void NoteDraw(std::size_t keys);
  int overflows_ = 0;  // the sequence's restarts so far, so that a batch can tell it wrapped
  // The key (GenID, prefix) of the row the cursor stands on after a draw in lmTransaction, so
  // that the next draw of that sequence can take the row without looking for it first.
  std::string row_key_;
  // The cursor that GenerateIn drew on last, kept for the next transaction on the same
  // connection (TAppTransaction::Reusable), with the row it stands on.
  std::unique_ptr<TTable> inside_;
  std::string inside_connection_;
  std::string inside_table_;
  std::string inside_row_key_;
  // While the row is held in lmTransaction, the overflow notice waits for the commit, so that a
  // message box never keeps the others out of the row.
  bool defer_notice_ = false;
  // Another client drew between this one's looks at the row: the next draws queue for the
  // row's lock until the sequence is quiet again.
  bool contended_ = false;
  bool notice_deferred_ = false;
  bool in_app_transaction_ = false;  // GenerateIn: the connection is the application's
  bool holds_lock_ = false;          // between a successful ReadDATA and the WriteDATA that stores
  // The Time this client wrote when it took the row's lock, and when it last stored a value
  // (or created the row, or undid). Identities are creation stamps, so two processes started
  // in one millisecond share one; the Time they wrote tells them apart.
  std::string lock_stamp_;
  std::string last_stamp_;
};

// Adds TGenerator to the class registry, so that stored forms can name it. Safe to repeat.
void RegisterGeneratorClasses();

}  // namespace tgen
