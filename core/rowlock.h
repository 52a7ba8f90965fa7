// The lock that lives in a generator table's row, and every rule about it. State 1 marks the
// row held and Who names the holder; Try counts the attempts of clients waiting for it; Time
// dates the taking, or on a free row the last write. The store's only part is that two
// clients never have one row in edit at once: each rule here is applied to the row as Edit
// fetched it (`fetched`), inside that edit, or to the row as last read, to judge it before.
#pragma once

#include <string>

namespace tgen {

class TTable;

namespace rowlock {

// The values of State.
constexpr int kFree = 0;
constexpr int kHeld = 1;
// Attempts counted in Try after which a held row is stale: the eleventh breaks the lock.
constexpr int kMaxTries = 10;
// How long a lock may be held before it is stale, in milliseconds.
constexpr int kHoldMs = 1000;

// Whether a lock taken at `time` (a time stamp) has been held for longer than kHoldMs: only the
// last five digits (seconds and milliseconds) are compared, so that a lock taken in the last
// minute never counts as old. A text of five characters or fewer is read whole. EConvertError
// when they are no number.
bool TimedOut(const std::string& time);

// Whether the cursor's row is held at all.
bool Held(TTable& table, bool fetched);
// Whether its lock is stale: held and counted more than kMaxTries times, or timed out.
bool Stale(TTable& table, bool fetched);
// Whether it is still held by `who`, who took it at `stamp`.
bool HeldBy(TTable& table, bool fetched, const std::string& who, const std::string& stamp);
// Whether it is free and was last written by `who` at `stamp`: nobody took it or drew from it
// since (a client that only counted or broke a lock changes neither Who nor Time).
bool FreeAfter(TTable& table, bool fetched, const std::string& who, const std::string& stamp);

// In the row under edit: marks it held by `who` since `stamp`, the count of attempts cleared.
void WriteHeld(TTable& table, const std::string& who, const std::string& stamp);
// In the row under edit: marks it free, the count of attempts cleared; with `who`, written by
// `who` at `stamp`.
void WriteFree(TTable& table);
void WriteFree(TTable& table, const std::string& who, const std::string& stamp);

}  // namespace rowlock
}  // namespace tgen
