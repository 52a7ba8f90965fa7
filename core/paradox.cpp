#include "core/paradox.h"

// pxlib's header declares its functions for C only.
extern "C" {
#include <paradox.h>
}
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>
#include <vector>

#include "core/gentable.h"

namespace tgen {

namespace {

constexpr int kCodePage = 1251;
constexpr auto kReadTimeout = std::chrono::seconds(10);  // a generator table takes milliseconds

// The fields of the table, in stored order, as Paradox types them.
struct ParadoxField {
  const char* name;
  char type;
  int length;
};
std::vector<ParadoxField> Layout() {
  std::vector<ParadoxField> layout;
  for (const TFieldDef& f : GeneratorFields()) {
    const bool text = f.DataType == TFieldType::ftString;
    layout.push_back({f.Name.c_str(),
                      text ? static_cast<char>(pxfAlpha) : static_cast<char>(pxfNumber),
                      text ? f.DataSize - 1 : 8});
  }
  return layout;
}

// Starts pxlib once per process.
void Boot() {
  static const bool booted = (PX_boot(), true);
  static_cast<void>(booted);
}

// A pxlib document that keeps the first error pxlib reports instead of printing it.
class Document {
 public:
  Document() : doc_(PX_new2(&Document::Error, nullptr, nullptr, nullptr)) {
    if (doc_ == nullptr) throw ETransferError("cannot start the Paradox library");
    doc_->errorhandler_user_data = this;
  }
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  ~Document() {
    if (open_) PX_close(doc_);
    PX_delete(doc_);
  }
  [[nodiscard]] pxdoc_t* get() const { return doc_; }
  void Opened() { open_ = true; }
  void Close() {
    if (open_) PX_close(doc_);
    open_ = false;
  }
  [[nodiscard]] std::string Reason() const { return error_.empty() ? "unknown error" : error_; }

 private:
  static void Error(pxdoc_t* /*doc*/, int /*level*/, const char* message, void* self) {
    auto* d = static_cast<Document*>(self);
    if (d != nullptr && d->error_.empty()) d->error_ = message != nullptr ? message : "";
  }

  pxdoc_t* doc_;
  bool open_ = false;
  std::string error_;
};

std::string Number(std::int64_t n) {
  return std::to_string(n);
}

// Refuses a table whose field count is not the generator table's.
void CheckFieldCount(long fields) {
  const std::size_t want = GeneratorFields().size();
  if (fields != static_cast<long>(want)) {
    throw ETransferError("the table has " + std::to_string(fields) + " fields, a generator table " +
                         std::to_string(want));
  }
}

// Checks the fixed start of a Paradox table's header from the raw bytes, before pxlib reads
// the file: pxlib follows the header's block counts and the blocks' links as they stand, and
// loops on a file that holds fewer blocks than its header says. Little-endian fields: record
// size (0), header size (2), file type (4), block size in KiB (5), records (6), blocks (0x0C),
// first and last block (0x0E, 0x10), fields (0x21), encryption (0x25), file version (0x39), and
// in the longer header of version 4.0 tables on (version 5 and up) a second encryption field
// (0x5C).
void CheckRawHeader(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::error_code error;
  const auto file_size = std::filesystem::file_size(path, error);
  if (!in || error) throw ETransferError(std::string("Cannot read ") + path);
  const auto size = static_cast<long>(file_size);
  constexpr std::size_t kShortest = 0x58;  // the header of the oldest versions
  std::array<unsigned char, 0x60> h{};
  in.read(reinterpret_cast<char*>(h.data()), static_cast<std::streamsize>(h.size()));  // NOLINT
  const auto got = static_cast<std::size_t>(in.gcount());
  if (got < kShortest)
    throw ETransferError("not a Paradox table: the file is shorter than a header");
  const auto u16 = [&](std::size_t at) { return h[at] | (h[at + 1] << 8); };
  const auto u32 = [&](std::size_t at) {
    return static_cast<unsigned long>(u16(at)) | (static_cast<unsigned long>(u16(at + 2)) << 16);
  };
  const long header = u16(2);
  const long block = static_cast<long>(h[5]) * 1024;
  const long blocks = u16(0x0C);
  if (header < static_cast<long>(kShortest) || size < header)
    throw ETransferError("the file is cut short: its header alone is " + std::to_string(header) +
                         " bytes");
  const long record = u16(0);
  if (record <= 0) throw ETransferError("not a Paradox table: its records have no size");
  if (block <= 0 || block > 32L * 1024)
    throw ETransferError("the header names no valid block size");
  if (header + blocks * block > size) {
    throw ETransferError("the file is cut short: its header counts " + std::to_string(blocks) +
                         " blocks of " + std::to_string(block) + " bytes");
  }
  // File versions 3 (Paradox 3.0) to 12 (7.0); types 0 and 2 hold a table's records, the others
  // are its indexes, whose header pxlib reads only in part.
  const int version = h[0x39];
  if (version < 3 || version > 12)
    throw ETransferError("not a Paradox table: unknown file version " + std::to_string(version));
  if (h[4] != 0 && h[4] != 2) {
    throw ETransferError("not a Paradox table's records: the file is of type " +
                         std::to_string(h[4]) + " (an index?)");
  }
  // Before pxlib reads a field list of a size the header makes up (up to 65535 entries).
  CheckFieldCount(u16(0x21));
  // A password-protected table is read by pxlib's decryption, which loops on damaged blocks;
  // generator tables were never protected. "None" is 0 at 0x25, or from version 5 on the marker
  // 0xFF00FF00 there with 0 in the longer header's field at 0x5C. pxlib reads that second field
  // only from version 5 on: in an older header the marker makes it decrypt or not by chance.
  const unsigned long encryption = u32(0x25);
  const bool longer_header = version >= 5;
  if (encryption == 0xFF00FF00UL && !longer_header) {
    const std::string file = "file version " + std::to_string(version);
    throw ETransferError("the header is damaged: its encryption field holds a marker that " + file +
                         " does not have");
  }
  if ((encryption != 0 && encryption != 0xFF00FF00UL) ||
      (encryption == 0xFF00FF00UL && got == h.size() && u32(0x5C) != 0))
    throw ETransferError("the table is password-protected; remove the password in Paradox first");
  if (u16(0x0E) > blocks || u16(0x10) > blocks)
    throw ETransferError("the header names a block the file does not hold");
  if (u32(6) > static_cast<unsigned long>(blocks) * static_cast<unsigned long>(block / record))
    throw ETransferError("the header counts more records than its blocks hold");
  // The data blocks form a chain from the first block, each naming the next in its first two
  // bytes (0 ends it); pxlib walks it without end if it runs in a circle.
  std::vector<bool> seen(static_cast<std::size_t>(blocks) + 1, false);
  for (long at = u16(0x0E); at != 0;) {
    if (at > blocks) throw ETransferError("a data block links to a block the file does not hold");
    if (seen[static_cast<std::size_t>(at)])
      throw ETransferError("the data blocks link in a circle");
    seen[static_cast<std::size_t>(at)] = true;
    std::array<unsigned char, 2> next{};
    in.seekg(header + (at - 1) * block);
    in.read(reinterpret_cast<char*>(next.data()), 2);  // NOLINT: bytes of the file
    if (in.gcount() != 2) throw ETransferError("the file is cut short inside a data block");
    at = next[0] | (next[1] << 8);
  }
}

// Appends one value to the text ReadRecords hands over: its length, a colon, its bytes. A
// value may hold any byte, a separator or a line end in a damaged table's text among them.
void AppendValue(std::string& text, std::string_view value) {
  text += std::to_string(value.size());
  text += ':';
  text += value;
}

// Reads the records of a Paradox generator table in this process: every field of every row in
// the layout's order, each as AppendValue writes it (an empty number is null).
// ETransferError when the layout is not a generator table's.
std::string ReadRecords(const std::string& path) {
  std::string text;
  const auto fail = [](const std::string& reason) { throw ETransferError(reason); };
  CheckRawHeader(path);
  Boot();
  Document doc;
  doc.get()->warnings = 0;
  if (PX_open_file(doc.get(), path.c_str()) < 0) fail("not a Paradox table: " + doc.Reason());
  doc.Opened();
  // The header first: nothing is asked of a file whose layout is not the generator table's.
  const pxhead_t* head = doc.get()->px_head;
  struct stat file {};
  if (head == nullptr || stat(path.c_str(), &file) != 0) fail("the header cannot be read");
  if (file.st_size < head->px_headersize) {
    fail("the file is cut short: its header alone is " + std::to_string(head->px_headersize) +
         " bytes");
  }
  const std::vector<ParadoxField> layout = Layout();
  const int fields = PX_get_num_fields(doc.get());  // seven: the raw header check saw to it
  int record_size = 0;
  std::vector<std::pair<int, int>> at;  // offset and length of each of the layout's fields
  for (const ParadoxField& want : layout) {
    bool found = false;
    int offset = 0;
    for (int i = 0; i < fields; ++i) {
      const pxfield_t* f = PX_get_field(doc.get(), i);
      if (f == nullptr || f->px_fname == nullptr)
        fail("field " + std::to_string(i + 1) + " has no name");
      if (strcasecmp(f->px_fname, want.name) == 0) {
        if (f->px_ftype != want.type || f->px_flen != want.length) {
          fail(std::string("the field ") + want.name + " is not " +
               (want.type == pxfAlpha ? "alpha " + std::to_string(want.length) : "a number"));
        }
        at.emplace_back(offset, f->px_flen);
        found = true;
      }
      offset += f->px_flen;
    }
    if (!found) fail(std::string("the field ") + want.name + " is missing");
    record_size = offset;
  }
  if (PX_get_recordsize(doc.get()) != record_size)
    fail("the record size does not match its fields");
  // Every block the header counts must be in the file, and hold no more records than fit.
  const long long block = static_cast<long long>(head->px_maxtablesize) * 1024;
  if (head->px_numrecords < 0 || block <= 0 ||
      static_cast<long long>(head->px_headersize) + head->px_fileblocks * block > file.st_size) {
    fail("the file is cut short: its header counts " + std::to_string(head->px_fileblocks) +
         " blocks of " + std::to_string(block) + " bytes");
  }
  if (head->px_numrecords > head->px_theonumrecords)
    fail("the header counts more records than its blocks hold");
  std::vector<char> record(static_cast<std::size_t>(record_size));
  const int records = PX_get_num_records(doc.get());
  for (int r = 0; r < records; ++r) {
    if (PX_get_record(doc.get(), r, record.data()) == nullptr)
      fail("row " + std::to_string(r + 1) + " cannot be read: " + doc.Reason());
    for (std::size_t i = 0; i < layout.size(); ++i) {
      char* data = record.data() + at[i].first;
      std::string value;
      if (layout[i].type == pxfAlpha) {
        char* alpha = nullptr;
        if (PX_get_data_alpha(doc.get(), data, at[i].second, &alpha) > 0 && alpha != nullptr) {
          value = alpha;
          doc.get()->free(doc.get(), alpha);
        }
      } else {
        double number = 0;
        if (PX_get_data_double(doc.get(), data, at[i].second, &number) > 0) {
          if (number != std::floor(number) || std::fabs(number) > 2147483647.0)
            fail("row " + std::to_string(r + 1) + ": " + layout[i].name + " is not a whole number");
          value = Number(static_cast<std::int64_t>(number));
        }
      }
      AppendValue(text, value);
    }
  }
  return text;
}

// The child's side of ReadParadox: the records, or a line "!reason".
[[noreturn]] void ReadInChild(const std::string& path, int out) {
  // What the reader would print on its own goes nowhere: its failures come back as text.
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, STDERR_FILENO);
  std::string text;
  int status = 0;
  try {
    text = ReadRecords(path);
  } catch (const std::exception& e) {
    text = std::string("!") + e.what();
    status = 2;
  }
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = write(out, text.data() + sent, text.size() - sent);
    if (n <= 0) _exit(3);
    sent += static_cast<std::size_t>(n);
  }
  _exit(status);
}

[[noreturn]] void Unreadable() {
  throw ETransferError("the Paradox table could not be read");
}

// The rows of ReadRecords's text. Text that does not parse (it never should) is refused as
// unreadable rather than trusted.
std::vector<TSequenceRow> ParseRecords(const std::string& text) {
  const std::string_view all = text;
  std::size_t at = 0;
  const auto next_value = [&]() -> std::string_view {
    const std::size_t colon = all.find(':', at);
    if (colon == std::string_view::npos) Unreadable();
    std::size_t size = 0;
    const auto [end, error] = std::from_chars(all.data() + at, all.data() + colon, size);
    if (error != std::errc() || end != all.data() + colon || size > all.size() - colon - 1)
      Unreadable();
    at = colon + 1 + size;
    return all.substr(colon + 1, size);
  };
  const std::vector<ParadoxField> layout = Layout();
  std::vector<TSequenceRow> rows;
  while (at < all.size()) {
    TSequenceRow row;
    row.Source = rows.size() + 1;
    for (const ParadoxField& f : layout) {
      const std::string_view value = next_value();
      const TRowField& field = RowField(f.name);
      if (field.Text != nullptr) {
        row.*field.Text = value;
      } else {
        std::int64_t n = 0;
        if (!value.empty()) {
          const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
          if (error != std::errc() || end != value.data() + value.size()) Unreadable();
        }
        row.*field.Number = n;
      }
    }
    rows.push_back(std::move(row));
  }
  CheckSequenceRows(rows);
  return rows;
}

}  // namespace

void WriteParadox(const std::string& path, const std::vector<TSequenceRow>& rows) {
  CheckSequenceRows(rows);
  Boot();
  const std::vector<ParadoxField> layout = Layout();
  // pxlib takes the field list as its own and frees it with the document.
  Document doc;
  auto* fields = static_cast<pxfield_t*>(
      doc.get()->malloc(doc.get(), layout.size() * sizeof(pxfield_t), "fields"));
  for (std::size_t i = 0; i < layout.size(); ++i) {
    const std::size_t n = std::strlen(layout[i].name) + 1;
    fields[i].px_fname = static_cast<char*>(doc.get()->malloc(doc.get(), n, "field name"));
    std::memcpy(fields[i].px_fname, layout[i].name, n);
    fields[i].px_ftype = layout[i].type;
    fields[i].px_flen = layout[i].length;
    fields[i].px_fdc = 0;
  }
  const std::string partial = path + ".partial";
  static_cast<void>(std::remove(partial.c_str()));
  if (PX_create_file(doc.get(), fields, static_cast<int>(layout.size()), partial.c_str(),
                     pxfFileTypNonIndexDB) < 0) {
    throw ETransferError("Cannot write " + path + ": " + doc.Reason());
  }
  doc.Opened();
  PX_set_value(doc.get(), "codepage", kCodePage);
  int record_size = 0;
  for (const ParadoxField& f : layout)
    record_size += f.length;
  std::vector<char> record(static_cast<std::size_t>(record_size));
  for (const TSequenceRow& r : rows) {
    std::fill(record.begin(), record.end(), '\0');
    int offset = 0;
    for (const ParadoxField& f : layout) {
      char* data = record.data() + offset;
      const TRowField& field = RowField(f.name);
      if (field.Text != nullptr) {
        std::string text = r.*field.Text;
        PX_put_data_alpha(doc.get(), data, f.length, text.data());
      } else {
        PX_put_data_double(doc.get(), data, f.length, static_cast<double>(r.*field.Number));
      }
      offset += f.length;
    }
    if (PX_put_record(doc.get(), record.data()) < 0) {
      static_cast<void>(std::remove(partial.c_str()));
      throw ETransferError("Cannot write " + path + ": " + doc.Reason());
    }
  }
  doc.Close();
  if (std::rename(partial.c_str(), path.c_str()) != 0) {
    static_cast<void>(std::remove(partial.c_str()));
    throw ETransferError("Cannot write " + path + ": " + std::strerror(errno));
  }
}

std::vector<TSequenceRow> ReadParadox(const std::string& path) {
  if (access(path.c_str(), R_OK) != 0)
    throw ETransferError("Cannot read " + path + ": " + std::strerror(errno));
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) throw ETransferError(std::string("pipe: ") + std::strerror(errno));
  const pid_t child = fork();
  if (child < 0) throw ETransferError(std::string("fork: ") + std::strerror(errno));
  if (child == 0) {
    close(pipe_fds[0]);
    alarm(static_cast<unsigned>(kReadTimeout.count()));  // a reader that hangs ends too
    ReadInChild(path, pipe_fds[1]);
  }
  close(pipe_fds[1]);
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(pipe_fds[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
    throw ETransferError("the Paradox table is damaged: its reader did not finish within " +
                         std::to_string(kReadTimeout.count()) + " s");
  }
  if (WIFSIGNALED(status)) {
    throw ETransferError("the Paradox table is damaged: its reader failed on it (signal " +
                         std::to_string(WTERMSIG(status)) + ")");
  }
  if (!text.empty() && text.front() == '!') throw ETransferError(text.substr(1));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Unreadable();

  return ParseRecords(text);
}

std::vector<TSequenceRow> ReadParadoxInProcess(const std::string& path) {
  return ParseRecords(ReadRecords(path));
}

}  // namespace tgen

const tgen::TParadoxFunctions* tgen_paradox_functions() {
  static const tgen::TParadoxFunctions functions{&tgen::ReadParadox, &tgen::WriteParadox};
  return &functions;
}
