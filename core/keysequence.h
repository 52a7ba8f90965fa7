// A key sequence in one object, for programs that only want keys: made from its options and
// ready to draw, or an exception saying why not. It wraps a TGenerator (core/generator.h),
// which stays the component for forms and designers.
//
//   tgen::KeySequence invoices({.Mask = "INV-@@@@-####", .Alias = "Shop", .Start = "0001",
//                               .Period = "YYYY"});
//   std::string key = invoices.Next();          // INV-2026-0001
//
// Failures are tgen::Exception and its subclasses, with a kind (Exception::Kind()): bad input,
// busy, unavailable, outcome unknown, undo refused, ... Nothing is shown to anyone.
//
// Thread safety: one KeySequence is used by one thread at a time; distinct ones, also on one
// sequence, may draw from different threads and processes at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/checkchar.h"
#include "core/generator.h"
#include "core/period.h"

namespace tgen {

struct TSequenceOptions {
  std::string Mask{};  // required
  // An alias, or a URI or connection string of a store ("sqlite:/srv/keys", "postgresql://...").
  std::string Alias = TSession::DefaultAliasName;
  std::string Table = DefaultGeneratorTable;
  std::int32_t Type = 0;  // the GeneratorType: the sequence's GenID
  std::string Start{};    // the counting part's start and end values; empty: none
  std::string End{};
  // The safe defaults of our tools: one commit a key, and a killed client holds nobody up.
  TLockMode Lock = TLockMode::lmTransaction;
  std::int32_t Cache = 0;  // keys reserved at a time (CacheSize)
  std::int32_t MaxWait = 30;
  std::string Proc{};    // the text of the '@' places, unless Period fills them
  std::string Period{};  // core/period.h
  std::int32_t FiscalStart = 1;
  TCheckMethod Check = TCheckMethod::cmNone;
  // Past the end: false fails the draw (nothing handed out again); true starts the sequence
  // again from its start value, handing its keys out again.
  bool RestartAtEnd = false;
  // Makes the table when it does not exist (on the default alias it is made anyway).
  bool CreateTable = false;
};

class KeySequence {
 public:
  // Opens the sequence's table (on the default alias it is made on first use). Exception when
  // the options or the table are refused, or the table cannot be reached.
  explicit KeySequence(const TSequenceOptions& options);
  KeySequence(const KeySequence&) = delete;
  KeySequence& operator=(const KeySequence&) = delete;
  KeySequence(KeySequence&&) noexcept;
  KeySequence& operator=(KeySequence&&) noexcept;
  ~KeySequence();  // gives a cache back

  // The next key. Exception when none could be handed out.
  std::string Next();
  // `count` consecutive keys, drawn in one lock cycle.
  std::vector<std::string> Next(int count);
  // The next key, drawn inside the application's transaction: it commits and rolls back with
  // the application's records.
  std::string NextIn(TAppTransaction& transaction);
  // Hands the last key back; the key before it. Exception (kUndoRefused) when another client
  // drew since, or there is nothing to hand back.
  std::string Undo();
  // The date whose period the draws take: the document's date; nothing: today.
  void SetDate(std::optional<TDate> date);
  // How long every key is, in bytes: the mask's places and the check characters.
  [[nodiscard]] std::size_t KeyLength() const;

 private:
  // What the generator's handlers use: kept on the heap, where a move leaves it.
  struct State {
    std::string proc;
    bool undo_refused = false;
  };
  std::unique_ptr<State> state_;
  std::unique_ptr<TGenerator> g_;
};

}  // namespace tgen
