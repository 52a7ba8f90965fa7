// Moving sequences in and out of generator tables: a table's rows written to a file, and the
// rows of a file checked, compared with a table's and written into it in one commit. Files of
// any size go out and come in a row at a time. Texts travel as the bytes the table holds
// (Windows-1251 keys stay single bytes).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/genmask.h"

#include "platform/base/exception.h"
#include "platform/store/dataset.h"

namespace tgen {

// One row of a generator table, on its way.
struct TSequenceRow {
  std::int64_t GenID = 0;
  std::string Prefix;
  std::string Suffix;
  std::int64_t State = 0;
  std::int64_t Try = 0;
  std::string Time;
  std::string Who;
  std::size_t Source = 0;  // its row in the file it came from (1: the first after the header)

  bool operator==(const TSequenceRow&) const = default;
};

// Where a field of the generator table is kept in a TSequenceRow: in a number member (GenID,
// State, Try) or in a text member (Prefix, Suffix, Time, Who). The readers and writers of
// every format go through these, so that the mapping is written once.
struct TRowField {
  const char* Name = nullptr;
  std::int64_t TSequenceRow::*Number = nullptr;
  std::string TSequenceRow::*Text = nullptr;
};
// The seven, in the order the tools show a row (genfield::ListOrder).
const std::array<TRowField, 7>& RowFields();
// The one named `name`, which must be a field of the generator table.
const TRowField& RowField(std::string_view name);

// A file that cannot be imported as it is; the message names the row and the reason. Nothing
// was written.
class ETransferError : public Exception {
 public:
  explicit ETransferError(std::string message)
      : Exception(std::move(message), TErrorKind::kBadInput) {}
};

// Every row of an open generator table, in the table's order.
std::vector<TSequenceRow> ReadSequenceRows(TTable& table);
// The same, handed to `visit` one at a time (in constant memory where the store reads row by
// row).
void ForEachSequenceRow(TTable& table, const std::function<void(const TSequenceRow&)>& visit);

// Writes rows one at a time as CSV or JSON (below), so that a table of any size goes out in
// constant memory: Row for each, then End.
class TRowWriter {
 public:
  TRowWriter() = default;
  TRowWriter(const TRowWriter&) = delete;
  TRowWriter& operator=(const TRowWriter&) = delete;
  virtual ~TRowWriter() = default;
  virtual void Row(const TSequenceRow& row) = 0;
  virtual void End() = 0;
};
std::unique_ptr<TRowWriter> CsvWriter(std::ostream& out);  // writes the header at once
std::unique_ptr<TRowWriter> JsonWriter(std::ostream& out);

// The rows of a file, read as often as an import needs them: once to check and plan, once to
// write. Each call hands every row to `visit` in the file's order (Source counting from 1), or
// throws ETransferError for the first it cannot read.
using TRowSource = std::function<void(const std::function<void(TSequenceRow&)>& visit)>;
// Rows read already, as a source.
TRowSource RowsSource(std::vector<TSequenceRow> rows);

// CSV with a header line naming the seven fields (GenID, Prefix, Suffix, State, Who, Try,
// Time), quoted as RFC 4180 says where a field needs it, lines ended by CRLF.
void WriteCsv(std::ostream& out, const std::vector<TSequenceRow>& rows);
// Reads CSV as WriteCsv writes it (the columns in any order, LF or CRLF, a UTF-8 byte-order
// mark skipped) a line at a time, each line first through `decode` where given (its text and
// number), and hands each row to `visit` once it is read and checked (CheckSequenceRow);
// ETransferError for the first problem.
void ForEachCsvRow(std::istream& in, const std::function<void(TSequenceRow&)>& visit,
                   const std::function<std::string(std::string_view, std::size_t)>& decode = {});
// The same, all rows at once, every row checked (CheckSequenceRows).
std::vector<TSequenceRow> ReadCsv(std::istream& in);

// JSON: an array of objects with the seven fields, numbers as numbers and texts converted from
// Windows-1251 (the bytes a table holds) to UTF-8, since JSON is Unicode. ETransferError for a
// byte that Windows-1251 leaves undefined.
void WriteJson(std::ostream& out, const std::vector<TSequenceRow>& rows);
// Reads a whole JSON file as WriteJson writes it, texts converted back to Windows-1251, and
// checks every row (CheckSequenceRows); ETransferError for the first problem, with the byte
// offset of a syntax error.
std::vector<TSequenceRow> ReadJson(std::istream& in);

// Refuses a row that no generator table can hold: a Prefix or Suffix longer than 20
// characters, a Time or Who longer than 17.
void CheckSequenceRow(const TSequenceRow& row);
// Refuses each such row, and two rows of one sequence (GenID and Prefix).
void CheckSequenceRows(const std::vector<TSequenceRow>& rows);

// What an import would do to a table. It holds the sequences of the file and of the table in
// a few bytes each while it is made, and of the file's rows only those that conflict.
struct TImportPlan {
  struct TConflict {
    TSequenceRow Stored;    // the table's row of the sequence
    TSequenceRow Imported;  // and the file's
  };
  TRowSource Rows;         // the file's rows, read again to be written
  std::size_t Read = 0;    // rows in the file
  std::vector<bool> Adds;  // by row of the file: whether it adds a sequence the table lacks
  std::vector<TConflict> Conflicts;
  int Same = 0;   // sequences the table holds at the file's suffix already: nothing to do
  int Freed = 0;  // rows marked held in the file, which come in free (State 0, Try 0)
  std::uint64_t Digest = 0;  // of the rows as read, to tell that the file stayed the same

  // How many sequences it adds.
  [[nodiscard]] std::size_t Added() const {
    return static_cast<std::size_t>(std::count(Adds.begin(), Adds.end(), true));
  }
};

// Reads `rows` once, checking each (CheckSequenceRow, and no sequence twice), and compares them
// with the open generator table `table`: sequences it lacks are added, those it holds at
// another suffix are conflicts. A row held in the file comes in free: its holder is no client
// of `table`. Without a table, every sequence is added.
TImportPlan PlanImport(TTable& table, TRowSource rows);
TImportPlan PlanImport(TRowSource rows);
inline TImportPlan PlanImport(TTable& table, std::vector<TSequenceRow> rows) {
  return PlanImport(table, RowsSource(std::move(rows)));
}
// The rows that `plan` adds, read again, as they would be written; ETransferError when the rows
// read again are not those the plan read.
void ForEachAdded(const TImportPlan& plan, const std::function<void(const TSequenceRow&)>& visit);
// How an import treats the sequences a table has already.
struct TImportOptions {
  bool Replace = false;  // the file's rows overwrite the table's
  // A row may move its sequence to a suffix before the one the table holds, so that keys
  // handed out already are handed out again.
  bool Backwards = false;
  // Tells which of two suffixes comes first in the sequence; without it only a suffix equal to
  // the table's can replace it (unless Backwards).
  const TGenMask* Order = nullptr;
};

// Why the file's row of `c` must not replace the table's: it would move the sequence back,
// or its order against the table's cannot be told. Empty when it may.
std::string ReplaceProblem(const TImportPlan::TConflict& c, const TImportOptions& options);

// Writes the plan into `table` in one commit, all or nothing: the new rows, read again from the
// file as they are written, and, with Replace, the imported rows over the conflicting ones.
// Refused (ETransferError), with nothing written, when there are conflicts without Replace,
// when ReplaceProblem refuses a row, when a row to replace no longer holds what the plan read
// (a client drew meanwhile; the message lists each such row), or when the file's rows are not
// those the plan read.
void ApplyImport(TTable& table, const TImportPlan& plan, const TImportOptions& options);

}  // namespace tgen
