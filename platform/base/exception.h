// The exceptions of the system, in one hierarchy. Every one carries its message text, which
// names what was wrong for people (Message() and what() return it), and its kind, which code
// tests (Kind(): a caller, a C or Python face, tells failures apart by it, never by the text).
//
//   Exception                  any failure the caller must handle
//   +- EConvertError           a text that is not the number it should be
//   +- EReadError              a stored form that cannot be read (the message names the line)
//   +- ERestartRefused         a sequence restart that does not fit the mask
//   +- EDatabaseError          a store failed or refused
//      +- EKeyViolation        a new row whose key another row holds already
//      +- ECommitUnknown       a commit that may or may not have been stored
//      +- ELockTimeout         a row that stayed in another client's edit for the time allowed
//      +- ETransactionLost     the application's transaction can go no further: roll it back
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace tgen {

// What went wrong, as code tells it apart. Each exception class has its own kind; a plain
// Exception or EDatabaseError may be given another.
enum class TErrorKind : std::uint8_t {
  kFailed,           // none of those below
  kBadInput,         // a mask, a bound, an option, a form or a file that is refused as given
  kNotANumber,       // a text that is not the number it should be
  kRestartRefused,   // a sequence restart that does not fit the mask
  kStoreFailed,      // a store failed or refused
  kUnavailable,      // a store that cannot be reached: no server, no folder, no such table
  kKeyTaken,         // a new row whose key another row holds already
  kOutcomeUnknown,   // a commit that may or may not have been stored
  kRowsChanged,      // rows that another client changed since they were read
  kBusy,             // a row that stayed busy for as long as the caller would wait
  kTransactionLost,  // the application's transaction can go no further
  kUndoRefused,      // a key that could not be handed back: another client drew since
};

// Raised for failures that the caller must handle: a mask that does not parse, a key that
// cannot be generated, a row that stays busy, ...
class Exception : public std::exception {
 public:
  explicit Exception(std::string message, TErrorKind kind = TErrorKind::kFailed)
      : message_(std::move(message)), kind_(kind) {}

  [[nodiscard]] const std::string& Message() const noexcept { return message_; }
  [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }
  [[nodiscard]] TErrorKind Kind() const noexcept { return kind_; }

 private:
  std::string message_;
  TErrorKind kind_;
};

// StrToInt, and the reading of a lock's Time, met a text that is no integer; the message quotes
// the text: "'12a' is not a valid integer value".
class EConvertError : public Exception {
 public:
  explicit EConvertError(std::string message)
      : Exception(std::move(message), TErrorKind::kNotANumber) {}
};

// ReadComponent met a form it cannot read: bad syntax, an unknown class or property, a value
// that a property refuses. The message names the line.
class EReadError : public Exception {
 public:
  explicit EReadError(std::string message) : Exception(std::move(message), TErrorKind::kBadInput) {}
};

// A sequence restart that does not fit the mask: an OnNewRecord handler handed back, or left in
// the engine, a text that is no suffix of this mask. Nothing is stored or handed out.
class ERestartRefused : public Exception {
 public:
  explicit ERestartRefused(std::string message)
      : Exception(std::move(message), TErrorKind::kRestartRefused) {}
};

// A store failed or refused: an alias or table that cannot be reached, a row taken by another
// client, a field that does not hold a value, a table of the wrong layout.
class EDatabaseError : public Exception {
 public:
  explicit EDatabaseError(std::string message, TErrorKind kind = TErrorKind::kStoreFailed)
      : Exception(std::move(message), kind) {}
};

// An insert whose key (a unique key of the table, or the cursor's key fields) another row holds
// already. Nothing was stored.
class EKeyViolation : public EDatabaseError {
 public:
  explicit EKeyViolation(std::string message)
      : EDatabaseError(std::move(message), TErrorKind::kKeyTaken) {}
};

// The connection went while a commit was under way: it may or may not have been stored. A
// generator hands out no key after it (a gap in the sequence, never a repeat), and its Undo
// refuses the row, whose Time this client never learnt.
class ECommitUnknown : public EDatabaseError {
 public:
  explicit ECommitUnknown(std::string message)
      : EDatabaseError(std::move(message), TErrorKind::kOutcomeUnknown) {}
};

// Rows that a write was to overwrite no longer held what the caller expected of them: another
// client changed them since they were read. Nothing was written. `Rows` counts the rows of the
// write that changed, by their place in it.
class ERowsChanged : public EDatabaseError {
 public:
  ERowsChanged(std::string message, std::vector<std::size_t> rows)
      : EDatabaseError(std::move(message), TErrorKind::kRowsChanged), Rows(std::move(rows)) {}
  std::vector<std::size_t> Rows;
};

// A row stayed in another client's edit for as long as the caller was willing to wait; nothing
// was read or stored. The message names the table.
class ELockTimeout : public EDatabaseError {
 public:
  explicit ELockTimeout(std::string message)
      : EDatabaseError(std::move(message), TErrorKind::kBusy) {}
};

// The transaction that the application holds for a draw inside it (TAppTransaction) can go no
// further: its connection was lost, or a statement before the draw failed it. Trying again
// inside it is of no use; the application rolls it back and starts anew.
class ETransactionLost : public EDatabaseError {
 public:
  explicit ETransactionLost(std::string message)
      : EDatabaseError(std::move(message), TErrorKind::kTransactionLost) {}
};

}  // namespace tgen
