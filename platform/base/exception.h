// The exceptions of the system, in one hierarchy. Every one carries its message text, which
// names what was wrong; Message() and what() return it.
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

#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace tgen {

// Raised for failures that the caller must handle: a mask that does not parse, a key that
// cannot be generated, a row that stays busy, ...
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}

  [[nodiscard]] const std::string& Message() const noexcept { return message_; }
  [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// StrToInt, and the reading of a lock's Time, met a text that is no integer; the message quotes
// the text: "'12a' is not a valid integer value".
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// ReadComponent met a form it cannot read: bad syntax, an unknown class or property, a value
// that a property refuses. The message names the line.
class EReadError : public Exception {
 public:
  using Exception::Exception;
};

// A sequence restart that does not fit the mask: an OnNewRecord handler handed back, or left in
// the engine, a text that is no suffix of this mask. Nothing is stored or handed out.
class ERestartRefused : public Exception {
 public:
  using Exception::Exception;
};

// A store failed or refused: an alias or table that cannot be reached, a row taken by another
// client, a field that does not hold a value, a table of the wrong layout.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// An insert whose key (a unique key of the table, or the cursor's key fields) another row holds
// already. Nothing was stored.
class EKeyViolation : public EDatabaseError {
 public:
  using EDatabaseError::EDatabaseError;
};

// The connection went while a commit was under way: it may or may not have been stored. A
// generator hands out no key after it (a gap in the sequence, never a repeat), and its Undo
// refuses the row, whose Time this client never learnt.
class ECommitUnknown : public EDatabaseError {
 public:
  using EDatabaseError::EDatabaseError;
};

// Rows that a write was to overwrite no longer held what the caller expected of them: another
// client changed them since they were read. Nothing was written. `Rows` counts the rows of the
// write that changed, by their place in it.
class ERowsChanged : public EDatabaseError {
 public:
  ERowsChanged(std::string message, std::vector<std::size_t> rows)
      : EDatabaseError(std::move(message)), Rows(std::move(rows)) {}
  std::vector<std::size_t> Rows;
};

// A row stayed in another client's edit for as long as the caller was willing to wait; nothing
// was read or stored. The message names the table.
class ELockTimeout : public EDatabaseError {
 public:
  using EDatabaseError::EDatabaseError;
};

// The transaction that the application holds for a draw inside it (TAppTransaction) can go no
// further: its connection was lost, or a statement before the draw failed it. Trying again
// inside it is of no use; the application rolls it back and starts anew.
class ETransactionLost : public EDatabaseError {
 public:
  using EDatabaseError::EDatabaseError;
};

}  // namespace tgen
