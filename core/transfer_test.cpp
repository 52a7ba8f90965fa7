#include "core/transfer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/gentable.h"
#include "core/refusal_testing.h"
#include "platform/store/memorystore.h"

namespace tgen {
namespace {

constexpr const char* kHeader = "GenID,Prefix,Suffix,State,Who,Try,Time\r\n";

std::vector<TSequenceRow> FromCsv(const std::string& text) {
  std::istringstream in(text);
  return ReadCsv(in);
}

TEST(TransferTest, CsvKeepsEveryByteAndQuotesWhatNeedsIt) {
  const std::vector<TSequenceRow> rows = {
      {0, "INV-", "0042", 0, 0, "20261207101010001", "20261207101010000", 1},
      {7, "\xC0\xC1,\"q\"", "A\r\n1", 1, 3, "", "", 2},  // Windows-1251 bytes, a comma, a line end
  };
  std::ostringstream out;
  WriteCsv(out, rows);
  EXPECT_EQ(out.str().substr(0, std::string(kHeader).size()), kHeader);
  EXPECT_NE(out.str().find("\"\xC0\xC1,\"\"q\"\"\""), std::string::npos) << out.str();
  const std::vector<TSequenceRow> back = FromCsv(out.str());
  EXPECT_EQ(back, rows);  // every field, byte for byte
  // Columns in another order, the lock's left out (a free row), LF line ends, no line end at
  // the very end.
  const std::vector<TSequenceRow> moved = FromCsv("Prefix,GenID,Suffix\nP,3,9");
  ASSERT_EQ(moved.size(), 1U);
  EXPECT_EQ(moved[0], (TSequenceRow{3, "P", "9", 0, 0, "", "", 1}));
}

TEST(TransferTest, DamagedFilesAreRefusedWithTheirRowAndReason) {
  const std::string h = kHeader;
  const std::vector<Refusal> cases = {
      {"", "no header"},
      {"GenID,Prefix,State,Who,Try\r\n", "the column Suffix is missing"},
      {h.substr(0, h.size() - 2) + ",Extra\r\n", "unknown column 'Extra'"},
      {"GenID,GenID,Prefix,Suffix,State,Who,Try,Time\r\n", "column GenID twice"},
      {h + "0,P,1,0,,0\r\n", "row 1: 6 fields where the header names 7"},
      {h + "0,P,1,0,,0,\r\n1,\"P,2,0,,0,\r\n", "quoted field that is never closed"},
      {h + "0,P\"x,1,0,,0,\r\n", "row 1: a quote inside an unquoted field"},
      {h + "zero,P,1,0,,0,\r\n", "row 1: GenID 'zero' is not a whole number"},
      {h + "0,P,1,0,123456789012345678,0,\r\n", "row 1: Who '123456789012345678' is longer"},
      {h + "0,P,1,0,,0,\r\n1,P,1,0,,0,\r\n0,P,2,0,,0,\r\n",
       "row 3: the sequence of GenID 0 and prefix 'P' is in row 1 already"},
  };
  ExpectRefused(FromCsv, cases);
}

std::vector<TSequenceRow> FromJson(const std::string& text) {
  std::istringstream in(text);
  return ReadJson(in);
}

TEST(TransferTest, JsonIsUnicodeAndComesBackAsTheSameBytes) {
  const std::vector<TSequenceRow> rows = {
      {7, "\xC0\xC1-", "0042", 1, 3, "20261207101010001", "x\"y", 1}};
  std::ostringstream out;
  WriteJson(out, rows);
  EXPECT_NE(out.str().find("\"Prefix\": \"\xD0\x90\xD0\x91-\""), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("\"GenID\": 7,"), std::string::npos) << out.str();
  const std::vector<TSequenceRow> back = FromJson(out.str());
  EXPECT_EQ(back, rows);
  // A byte that Windows-1251 leaves undefined has no Unicode character to go out as.
  std::ostringstream undefined;
  EXPECT_THROW(WriteJson(undefined, {{0, "\x98", "1", 0, 0, "", "", 1}}), ETransferError);
}

TEST(TransferTest, DamagedJsonIsRefusedWithTheRowOrOffsetAndReason) {
  const std::string row = R"("Prefix":"P","Suffix":"1","State":0,"Who":"","Try":0,"Time":"")";
  const std::vector<Refusal> cases = {
      {"[{\"GenID\":1,", "syntax error at byte 13"},
      {"{}", "not an array of rows"},
      {"[{" + row + "}]", "row 1: the field GenID is missing"},
      {"[{\"GenID\":1,\"Extra\":2," + row + "}]", "row 1: unknown field 'Extra'"},
      {"[{\"GenID\":18446744073709551615," + row + "}]",
       "row 1: GenID '18446744073709551615' is not a whole number"},
      {"[1E6666666666]", "not JSON this reader takes"},
      {R"([{"GenID":1,"Prefix":"\u65e5","Suffix":"1","State":0,"Who":"","Try":0,"Time":""}])",
       "row 1: Prefix"},
      {"[{\"GenID\":1," + row + "},{\"GenID\":1," + row + "}]", "row 2: the sequence"},
  };
  ExpectRefused(FromJson, cases);
}

class ImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store->Reset();
    CreateGeneratorTable(*store, "import", "GENTBL");
    table.SetOpener([this](const std::string&, const std::string& name) {
      return store->OpenTable("import", name);
    });
    table.SetTableName("GENTBL");
    table.Open();
  }
  std::vector<TSequenceRow> Stored() { return ReadSequenceRows(table); }

  std::shared_ptr<TMemoryStore> store = TMemoryStore::Instance();
  TTable table;
};

TEST_F(ImportTest, NewSequencesComeInHeldOnesFreeAndConflictsOnlyWithReplace) {
  ApplyImport(table, PlanImport(table, FromCsv(std::string(kHeader) + "0,A,0010,0,,0,\r\n")), {});
  // A row the table holds as it is has nothing to do.
  EXPECT_EQ(PlanImport(table, FromCsv("GenID,Prefix,Suffix\r\n0,A,0010\r\n")).Same, 1);
  const std::vector<TSequenceRow> file =
      FromCsv(std::string(kHeader) + "0,A,0042,0,,0,\r\n1,B,0007,1,2026,4,x\r\n");
  const TImportPlan plan = PlanImport(table, file);
  std::vector<TSequenceRow> added;
  ForEachAdded(plan, [&added](const TSequenceRow& r) { added.push_back(r); });
  ASSERT_EQ(added.size(), 1U);
  EXPECT_EQ(added[0].Prefix, "B");
  EXPECT_EQ(added[0].State, 0);  // held in the file: free here
  EXPECT_EQ(added[0].Try, 0);
  EXPECT_EQ(plan.Freed, 1);
  ASSERT_EQ(plan.Conflicts.size(), 1U);
  EXPECT_EQ(plan.Conflicts[0].Stored.Suffix, "0010");
  EXPECT_EQ(plan.Conflicts[0].Imported.Suffix, "0042");

  // Refused whole: not even the new sequence is written.
  EXPECT_THROW(ApplyImport(table, plan, {}), ETransferError);
  ASSERT_EQ(Stored().size(), 1U);
  EXPECT_EQ(Stored()[0].Suffix, "0010");

  TGenMask order;
  order.ScanMask("####");
  ApplyImport(table, plan, {.Replace = true, .Order = &order});
  const std::vector<TSequenceRow> after = Stored();
  ASSERT_EQ(after.size(), 2U);
  EXPECT_EQ(after[0].Suffix, "0042");
  EXPECT_EQ(after[1].Suffix, "0007");
  EXPECT_EQ(after[1].State, 0);
}

// The file is read twice, to plan and to write: a row added to the table meanwhile, or a file
// that changed meanwhile, refuses the whole import.
TEST_F(ImportTest, WhatChangedSinceThePlanRefusesTheWholeImport) {
  const TImportPlan plan =
      PlanImport(table, FromCsv(std::string(kHeader) + "0,A,1,0,,0,\r\n0,B,1,0,,0,\r\n"));
  ApplyImport(table, PlanImport(table, FromCsv(std::string(kHeader) + "0,B,5,0,,0,\r\n")), {});
  EXPECT_THROW(ApplyImport(table, plan, {}), EKeyViolation);
  std::string text = std::string(kHeader) + "0,C,1,0,,0,\r\n";
  const TImportPlan changing = PlanImport(table, [&text](const auto& visit) {
    std::istringstream in(text);
    ForEachCsvRow(in, visit);
  });
  text += "0,D,1,0,,0,\r\n";
  EXPECT_THROW(ApplyImport(table, changing, {}), ETransferError);
  const std::vector<TSequenceRow> after = Stored();
  ASSERT_EQ(after.size(), 1U);
  EXPECT_EQ(after[0].Suffix, "5");
}

// A replacement moves a sequence forward only, and only while the row is as the plan read it:
// otherwise keys handed out would be handed out again.
TEST_F(ImportTest, ReplaceMovesASequenceOnlyForwardAndOnlyFromWhatWasPlanned) {
  TGenMask order;
  order.ScanMask("INV-[XY]##");
  struct Case {
    const char* name;
    const char* file_suffix;
    const TGenMask* order;
    bool backwards;
    bool draw_meanwhile;  // a client moves the row on between the plan and the write
    const char* refusal;  // a part of the message; empty when the import goes through
  };
  const Case cases[] = {
      {"forward", "Y05", &order, false, false, ""},
      {"same", "X50", nullptr, false, false, ""},
      {"back", "X09", &order, false, false, "goes back"},
      {"back, allowed", "X09", &order, true, false, ""},
      {"no order known", "Y05", nullptr, false, false, "no mask tells their order"},
      {"not the mask's", "Z05", &order, false, false, "does not fit"},
      {"drawn meanwhile", "Y05", &order, false, true, "'X50' when planned, 'X69' now"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    table.Close();
    SetUp();
    ApplyImport(table, PlanImport(table, FromCsv(std::string(kHeader) + "0,INV-,X50,0,,0,\r\n")),
                {});
    const TImportPlan plan =
        PlanImport(table, FromCsv(std::string(kHeader) + "0,INV-," + c.file_suffix + ",0,,0,\r\n"));
    std::string now = "X50";
    if (c.draw_meanwhile) {
      now = "X69";
      ApplyImport(table, PlanImport(table, FromCsv(std::string(kHeader) + "0,INV-,X69,0,,0,\r\n")),
                  {.Replace = true, .Order = &order});
    }
    try {
      ApplyImport(table, plan, {.Replace = true, .Backwards = c.backwards, .Order = c.order});
      EXPECT_STREQ(c.refusal, "");
      now = c.file_suffix;
    } catch (const ETransferError& e) {
      EXPECT_THAT(e.what(), ::testing::HasSubstr(c.refusal));
      EXPECT_STRNE(c.refusal, "");
    }
    EXPECT_EQ(Stored().at(0).Suffix, now);
  }
}

}  // namespace
}  // namespace tgen
