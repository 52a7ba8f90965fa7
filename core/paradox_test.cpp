#include "core/paradox.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

extern "C" {
#include <paradox.h>
}

#include "core/refusal_testing.h"
#include "platform/store/scratch_testing.h"

namespace tgen {
namespace {

namespace fs = std::filesystem;

class ParadoxTest : public ::testing::Test {
 protected:
  // A Paradox table of `fields` (name, type, length) with no records, written by pxlib itself.
  std::string Foreign(const std::string& name,
                      const std::vector<std::tuple<const char*, char, int>>& layout) {
    std::string path = (dir / name).string();
    PX_boot();
    pxdoc_t* doc = PX_new();
    auto* fields =
        static_cast<pxfield_t*>(doc->malloc(doc, layout.size() * sizeof(pxfield_t), "fields"));
    for (std::size_t i = 0; i < layout.size(); ++i) {
      const char* field = std::get<0>(layout[i]);
      const std::size_t n = std::strlen(field) + 1;
      fields[i].px_fname = static_cast<char*>(doc->malloc(doc, n, "name"));
      std::memcpy(fields[i].px_fname, field, n);
      fields[i].px_ftype = std::get<1>(layout[i]);
      fields[i].px_flen = std::get<2>(layout[i]);
      fields[i].px_fdc = 0;
    }
    PX_create_file(doc, fields, static_cast<int>(layout.size()), path.c_str(),
                   pxfFileTypNonIndexDB);
    PX_close(doc);
    PX_delete(doc);
    return path;
  }
  std::string Cut(const std::string& from, std::size_t bytes) {
    return Patched(from, "cut-" + std::to_string(bytes) + ".db",
                   [bytes](std::string& data) { data.resize(std::min(bytes, data.size())); });
  }

  // A copy of `from` named `name`, with `change` made to its bytes.
  std::string Patched(const std::string& from, const std::string& name,
                      const std::function<void(std::string&)>& change) {
    std::string path = (dir / name).string();
    std::ifstream in(from, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    change(data);
    std::ofstream(path, std::ios::binary) << data;
    return path;
  }
  // A copy of `from` with the byte at `at` set to `value`.
  std::string Byte(const std::string& from, std::size_t at, char value) {
    return Patched(from, "byte-" + std::to_string(at) + "-" + std::to_string(int{value}) + ".db",
                   [at, value](std::string& data) { data[at] = value; });
  }
  // A copy of `from` whose first data block names itself as the next one.
  std::string Circled(const std::string& from) {
    return Patched(from, "circle.db", [](std::string& data) {
      const auto u16 = [&data](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(data[at]) |
                                        static_cast<unsigned char>(data[at + 1]) << 8);
      };
      const std::size_t first = u16(0x0E);
      const std::size_t at = u16(2) + (first - 1) * static_cast<unsigned char>(data[5]) * 1024;
      data[at] = static_cast<char>(first & 0xFF);
      data[at + 1] = static_cast<char>(first >> 8);
    });
  }

  testing::ScratchFolder dir{"paradox"};
};

TEST_F(ParadoxTest, ATableComesBackWithEveryByte) {
  const std::vector<TSequenceRow> rows = {
      {0, "INV-", "0042", 0, 0, "20261207101010001", "20261207101010000", 1},
      {7, "\xC0\xC1-", "12345678901234567890", 1, 4, "20261201080000001", "20261201080000000", 2},
      {-3, "", "A", 0, 0, "",
       "a\x1f"
       "5:b\nc",
       3},  // separators and line ends are bytes too
  };
  const std::string path = (dir / "GENTBL.DB").string();
  WriteParadox(path, rows);
  const std::vector<TSequenceRow> back = ReadParadox(path);
  EXPECT_EQ(back, rows);  // every field, byte for byte
  // The table says which code page its texts are in, as old applications expect.
  pxdoc_t* doc = PX_new();
  ASSERT_EQ(PX_open_file(doc, path.c_str()), 0);
  EXPECT_EQ(doc->px_head->px_doscodepage, 1251);
  PX_close(doc);
  PX_delete(doc);
}

TEST_F(ParadoxTest, DamagedAndForeignTablesAreRefusedWithTheReason) {
  const std::string good = (dir / "GOOD.DB").string();
  std::vector<TSequenceRow> many;
  for (int i = 0; i < 200; ++i)
    many.push_back({i, "P", "1", 0, 0, "", "", static_cast<std::size_t>(i + 1)});
  WriteParadox(good, many);
  const std::vector<Refusal> cases = {
      {Cut(good, 0), "not a Paradox table"},
      {Cut(good, static_cast<std::size_t>(fs::file_size(good)) - 100), "the file is cut short"},
      {Foreign("short.db", {{"GenID", pxfNumber, 8},
                            {"Prefix", pxfAlpha, 10},
                            {"Suffix", pxfAlpha, 20},
                            {"Time", pxfAlpha, 17},
                            {"Try", pxfNumber, 8},
                            {"State", pxfNumber, 8},
                            {"Who", pxfAlpha, 17}}),
       "the field Prefix is not alpha 20"},
      {Foreign("two.db", {{"GenID", pxfNumber, 8}, {"Prefix", pxfAlpha, 20}}),
       "the table has 2 fields, a generator table 7"},
      {Byte(good, 0x25, 1), "password-protected"},
      // A Paradox 3.5 header, shorter, with the longer header's "see the second field" marker
      // at 0x25 (pxlib would decide by chance whether to decrypt the blocks).
      {Byte(good, 0x39, 4), "the header is damaged: its encryption field"},
      {Byte(good, 0x39, 14), "unknown file version 14"},
      {Byte(good, 4, 1), "of type 1"},  // a primary index
      {Circled(good), "the data blocks link in a circle"},
      {(dir / "missing.db").string(), "Cannot read"},
  };
  ExpectRefused([](const std::string& path) { ReadParadox(path); }, cases);
}

}  // namespace
}  // namespace tgen
