// The generation cycle, its row lock and undo, driven step by step on the in-memory store.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "core/generator.h"
#include "core/timestamp.h"
#include "platform/base/notice.h"
#include "platform/store/memorystore.h"
#include "platform/store/scratch_testing.h"

namespace tgen {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kDb = "cycle";
constexpr const char* kTable = "GENTBL.DB";

// A generator whose attempts a test can interfere with.
class Client : public TGenerator {
 public:
  using TGenerator::TGenerator;
  std::function<void(Client&)> before_read;  // runs before every ReadDATA
  std::function<void(Client&)> on_wait;
  std::function<void(Client&)> on_null_record;
  int reads = 0;
  int waits = 0;
  bool ReadDATA() override {
    ++reads;
    if (before_read) before_read(*this);
    return TGenerator::ReadDATA();
  }
  void Wait() override {
    ++waits;
    if (on_wait) on_wait(*this);
  }
  void NullRecord() override {
    if (on_null_record) on_null_record(*this);
    TGenerator::NullRecord();
  }
};

// The fields of a row, by name.
struct Row {
  double id = 0, tries = 0, state = 0;
  std::string prefix, suffix, time, who;
};

class CycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store->Reset();
    CreateGeneratorTable(*store, kDb, kTable);
  }

  std::unique_ptr<Client> Make(const std::string& mask, std::int32_t type = 0) {
    auto c = std::make_unique<Client>();
    c->SetMask(mask);
    c->SetGeneratorType(type);
    c->SetDataBaseName("Mem");
    c->SetWaitRound(std::chrono::nanoseconds(0));
    c->SetLockMode(mode);
    c->InitDB();
    return c;
  }

  [[nodiscard]] std::vector<Row> Rows() const {
    std::vector<Row> rows;
    for (const auto& entry : store->Rows(kDb, kTable)) {
      const auto& r = entry.second;
      auto text = [&](std::size_t i) {
        const auto* s = std::get_if<std::string>(&r[i]);
        return s != nullptr ? *s : std::string();
      };
      auto number = [&](std::size_t i) {
        const auto* d = std::get_if<double>(&r[i]);
        return d != nullptr ? *d : 0.0;
      };
      rows.push_back({number(0), number(4), number(5), text(1), text(2), text(3), text(6)});
    }
    return rows;
  }
  // Writes the only row as another client would, bypassing every lock.
  void SetOnlyRow(const Row& r) {
    const auto rows = store->Rows(kDb, kTable);
    ASSERT_EQ(rows.size(), 1U);
    store->SetRow(kDb, kTable, rows.front().first,
                  {r.id, r.prefix, r.suffix, r.time, r.tries, r.state, r.who});
  }

  TLockMode mode = TLockMode::lmRowFields;  // of the clients that Make makes
  std::shared_ptr<TMemoryStore> store = TMemoryStore::Instance();
  std::shared_ptr<RecordingNoticeSink> notices = std::make_shared<RecordingNoticeSink>();
  ScopedNoticeSink notice_guard{notices};
  testing::ScratchFolder dir{"cycle", std::string("Mem = memory:") + kDb + "\n"};
};

// The cases that both lock modes must pass alike.
class LockModeTest : public CycleTest, public ::testing::WithParamInterface<TLockMode> {
 protected:
  void SetUp() override {
    mode = GetParam();
    CycleTest::SetUp();
  }
  [[nodiscard]] bool InTransaction() const { return mode == TLockMode::lmTransaction; }
};

INSTANTIATE_TEST_SUITE_P(Modes, LockModeTest,
                         ::testing::Values(TLockMode::lmRowFields, TLockMode::lmTransaction),
                         [](const ::testing::TestParamInfo<TLockMode>& p) {
                           return p.param == TLockMode::lmRowFields ? "RowFields" : "Transaction";
                         });

// ------------------------------------------------------------------------------------------
// Opening

TEST_F(CycleTest, OpeningFailsWithOneMessageAndDisables) {
  std::vector<TFieldDef> narrow = GeneratorFields();
  narrow.pop_back();  // no Who
  narrow[1].DataSize = 31;
  narrow[4] = {"Try", TFieldType::ftString, 10};
  store->CreateTable(kDb, "NARROW.DB", narrow, {});
  std::vector<TFieldDef> wide = GeneratorFields();  // more fields, in another order
  std::rotate(wide.begin(), wide.end() - 1, wide.end());
  wide.insert(wide.begin(), {"Extra", TFieldType::ftString, 5});
  store->CreateTable(kDb, "WIDE.DB", wide, {});
  struct Case {
    std::string alias, table, message;  // empty message: opens fine
  };
  const std::vector<Case> cases = {
      {"Mem", "WIDE.DB", ""},
      {"Mem", "NARROW.DB",
       "Error while opening generator table NARROW.DB!\r\nCheck Mem!\r\nBad table format: Prefix "
       "does not hold 20 characters, Try is not a number, Who is missing"},
      {"Mem", "NONE.DB",
       "Error while opening generator table NONE.DB!\r\nCheck Mem!\r\nTable NONE.DB does not "
       "exist in memory:cycle"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    notices->Clear();
    TGenerator g;
    g.SetMask("##");
    g.SetDataBaseName(c.alias);
    g.SetTableName(c.table);
    g.InitDB();
    EXPECT_EQ(g.Disabled(), !c.message.empty());
    EXPECT_THAT(notices->Cursors(), ElementsAre(crAppStart, crDefault));
    if (c.message.empty()) {
      EXPECT_THAT(notices->Notices(), IsEmpty());
      EXPECT_EQ(g.Generator(), "00");
    } else {
      EXPECT_THAT(notices->Texts(), ElementsAre(c.message));
      EXPECT_TRUE(notices->Notices().front().plain);
      EXPECT_EQ(g.Generator(), "");
      EXPECT_EQ(g.Undo(), "");
    }
  }
}

// ------------------------------------------------------------------------------------------
// Drawing

TEST_P(LockModeTest, OverflowStoresTheRestartedValue) {
  auto g = Make("#");
  for (int i = 0; i < 10; ++i)
    g->Generator();
  EXPECT_EQ(g->Generator(), "0");
  EXPECT_EQ(Rows().front().suffix, "0");
  EXPECT_THAT(notices->Notices(), ElementsAre(RecordingNoticeSink::Notice{
                                      "Incremental part was set to startup value",
                                      "Generator Information", MB_ICONINFORMATION, false}));
  // A handler takes the notice's place.
  notices->Clear();
  std::vector<std::string> told;
  g->OnOverFlowMask = [&](TObject* sender, TmString suffix) {
    EXPECT_EQ(sender, g.get());
    told.push_back(suffix.str());
  };
  for (int i = 0; i < 10; ++i)
    g->Generator();
  EXPECT_THAT(told, ElementsAre("0"));
  EXPECT_THAT(notices->Notices(), IsEmpty());
}

// One draw, one prefix: a prefix that turns during an overflow (a month ending) must not
// write the restart to one sequence's row and hand it out under the other's prefix.
TEST_P(LockModeTest, APrefixThatTurnsDuringAnOverflowKeepsTheDrawsPrefix) {
  auto g = Make("@@@-#");
  std::string month = "JAN";
  g->GetUserPrefixes = [&month](TObject*, TmString& p) { p = month; };
  int restarts = 0;
  g->on_null_record = [&](Client&) {
    if (++restarts == 2) month = "FEB";  // the first restart makes JAN's row
  };
  std::vector<std::string> keys;
  for (int i = 0; i < 12; ++i)
    keys.push_back(g->Generator().str());
  EXPECT_EQ(keys[9], "JAN-9");
  EXPECT_EQ(keys[10], "JAN-0");
  EXPECT_EQ(keys[11], "FEB-0");
}

// A restart runs the application's handler while no client is kept out of the row, also on a
// busy sequence, where draws queue for the row's lock: a slow handler holds nobody up.
TEST_F(CycleTest, ARestartHandlerRunsWhileTheRowIsFree) {
  mode = TLockMode::lmTransaction;
  auto g = Make("K$");
  auto h = Make("K$");
  for (int i = 0; i < 24; ++i)
    g->Generator();  // KA .. KX
  h->Generator();    // KY and KZ: what g saw of the row is old now
  h->Generator();
  bool locked = true;
  g->OnOverFlowMask = [&locked](TObject* sender, TmString) {
    TTable other;
    other.SetDatabaseName("Mem");
    other.SetTableName(kTable);
    other.Open();
    other.Locate(genfield::KeyFields, {0.0, std::string("K")});
    try {
      other.Edit();
      other.Cancel();
      locked = false;
    } catch (const EDatabaseError&) {
    }
    static_cast<TGenerator*>(sender)->NullRecord();
  };
  EXPECT_EQ(g->Generator(), "KA");
  EXPECT_FALSE(locked);
}

TEST_P(LockModeTest, HeldRowsAreCountedThenBroken) {
  struct Case {
    double tries;
    int seconds_old;  // age of the lock's Time
    int reads;        // attempts of the row-field cycle until the value is drawn
    int waits;        // of the row-field cycle; one fewer in a transaction, which breaks and
                      // draws in one attempt
  };
  const std::vector<Case> cases = {
      {10, 0, 3, 2},  // counts to 11, breaks, then takes the row
      {11, 0, 2, 1},  // breaks at once
      {0, 2, 2, 1},   // timed out: breaks at once
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tries);
    SetUp();
    auto g = Make("##");
    EXPECT_EQ(g->Generator(), "00");
    // A fixed moment well inside a minute: the time-out compares seconds and milliseconds
    // only, so a lock taken in the previous minute never counts as old (a wall-clock moment
    // made this test fail in the two seconds after every full minute).
    const TDateTime now = EncodeLocal({2026, 12, 7, 12, 0, 30, 500});
    const auto clock = std::make_shared<ManualClock>(now - std::chrono::seconds(c.seconds_old));
    std::string time;
    {
      const ScopedClock old(clock);
      time = GetTimeStamp();
    }
    clock->Set(now);
    const ScopedClock frozen(clock);
    SetOnlyRow({0, c.tries, 1, "", "41", time, "SOMEONE"});
    g->reads = g->waits = 0;
    EXPECT_EQ(g->Generator(), "42");
    EXPECT_EQ(g->reads, InTransaction() ? 0 : c.reads);
    EXPECT_EQ(g->waits, InTransaction() ? c.waits - 1 : c.waits);
    const Row r = Rows().front();
    EXPECT_EQ(r.who, g->Who());
    EXPECT_EQ(r.state, 0);
    EXPECT_EQ(r.tries, 0);
  }
}

TEST_F(CycleTest, TenthFailedUpdateOfAFreeRowTellsTheUser) {
  auto g = Make("##");
  g->Generator();
  store->FailLocks(kDb, kTable, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(g->Generator(), "01");
  EXPECT_THAT(notices->Notices(), IsEmpty());
  EXPECT_EQ(g->waits, 9);

  store->FailLocks(kDb, kTable, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  g->waits = 0;
  EXPECT_EQ(g->Generator(), "02");  // the tenth goes on with the second update
  EXPECT_EQ(g->waits, 9);
  EXPECT_THAT(notices->Notices(),
              ElementsAre(RecordingNoticeSink::Notice{"System is busy. Try again!", "Generator",
                                                      MB_ICONINFORMATION, false}));
}

TEST_F(CycleTest, ARowTakenBetweenReadAndEditIsLeftAlone) {
  auto g = Make("##");
  auto rival = Make("##");
  g->Generator();  // row at 00, free
  bool interfered = false;
  g->before_read = [&](Client&) {
    if (interfered) return;
    interfered = true;
    // The rival marks the row held right after g read it as free.
    SetOnlyRow({0, 0, 1, "", "00", GetTimeStamp(), Rows().front().who});
  };
  g->on_wait = [&](Client&) {
    // ... and stores its next value and lets go.
    SetOnlyRow({0, 0, 0, "", "01", GetTimeStamp(), rival->Who()});
  };
  EXPECT_EQ(g->Generator(), "02");
  EXPECT_EQ(g->waits, 2);  // once for the mark it found, once for the row it saw held
}

TEST_P(LockModeTest, LosingTheRaceToCreateARowDrawsFromTheWinners) {
  for (const bool unique : {true, false}) {
    SCOPED_TRACE(unique ? "unique key" : "a table made without a unique key");
    SetUp();
    if (!unique) {
      const std::vector<TFieldDef>& fields = GeneratorFields();
      store->Reset();
      store->CreateTable(kDb, kTable, fields, {});
    }
    auto g = Make("##");
    g->on_null_record = [&](Client&) {
      if (!Rows().empty()) return;
      store->OpenTable(kDb, kTable)
          ->Insert({0.0, std::string(""), std::string("07"), GetTimeStamp(), 0.0, 0.0,
                    std::string("WINNER")},
                   {});
    };
    EXPECT_EQ(g->Generator(), "08");
    EXPECT_EQ(Rows().size(), 1U);
  }
}

// A client stays on its row between draws. Should that row become another sequence's (a row
// deleted, and its id given to a new one), the next draw finds its own row again and leaves the
// other alone, whether the store steps the suffix (digits) or the client does (a set out of
// order).
TEST_P(LockModeTest, ARowThatBecameAnotherSequencesIsLeftAlone) {
  for (const auto& [mask, second, moved, then, next] :
       {std::tuple{"##", "01", "40", "07", "08"}, std::tuple{"[ZA]#", "Z1", "A4", "Z7", "Z8"}}) {
    SCOPED_TRACE(mask);
    SetUp();
    auto g = Make(mask);
    g->Generator();                     // makes the row
    EXPECT_EQ(g->Generator(), second);  // from the row found: the client stays on it
    SetOnlyRow({5, 0, 0, "", moved, GetTimeStamp(), "OTHER"});
    store->OpenTable(kDb, kTable)
        ->Insert({0.0, std::string(""), std::string(then), GetTimeStamp(), 0.0, 0.0,
                  std::string("OTHER")},
                 {});
    EXPECT_EQ(g->Generator(), next);
    for (const Row& r : Rows())
      EXPECT_EQ(r.suffix, r.id == 5 ? moved : next);
  }
}

TEST_P(LockModeTest, TextsTooLongForTheirFieldsAreRefusedUntouched) {
  auto g = Make(std::string(21, 'P') + "#");
  EXPECT_THROW(g->Generator(), Exception);
  auto s = Make("X" + std::string(21, '#'));
  EXPECT_THROW(s->Generator(), Exception);
  EXPECT_THAT(Rows(), IsEmpty());
}

TEST_F(CycleTest, ARowOfAnotherMasksShapeIsRefused) {
  auto narrow = Make("INV-##");
  narrow->Generator();
  auto wide = Make("INV-[AB]###");  // same prefix and type: the same row
  try {
    wide->Generator();
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              "The row of GenID 0 and prefix 'INV-' in table GENTBL.DB holds the suffix '00', "
              "which does not fit the mask 'INV-[AB]###'; give this mask a GeneratorType of its "
              "own");
    EXPECT_EQ(e.Kind(), TErrorKind::kBadInput);
  }
  // Changed under a lock already taken: given back untouched.
  wide->before_read = [&](Client&) { SetOnlyRow({0, 0, 0, "INV-", "A012", "", "X"}); };
  SetOnlyRow({0, 0, 0, "INV-", "A011", "", "X"});
  wide->Generator();  // fits when read
  wide->before_read = [&](Client&) { SetOnlyRow({0, 0, 0, "INV-", "7", "", "X"}); };
  EXPECT_THROW(wide->Generator(), Exception);
  EXPECT_EQ(Rows().front().state, 0);
  EXPECT_EQ(Rows().front().suffix, "7");
}

// The random tester covers check characters on keys drawn, undone and shared with clients of
// other methods; here, the keys no check can take are refused before anything is stored.
TEST_P(LockModeTest, KeysNoCheckCanTakeAreRefused) {
  auto long_mask = Make(std::string(99, '#'));
  EXPECT_THROW(long_mask->SetCheckMethod(TCheckMethod::cmMod97), Exception);  // over 100
  auto g = Make("INV-####-");
  g->SetCheckMethod(TCheckMethod::cmMod97);
  EXPECT_THROW(g->SetMask(std::string(99, '#')), Exception);  // nor when the mask comes later
  auto cyrillic = Make("\xC0-#");
  cyrillic->SetCheckMethod(TCheckMethod::cmLuhn);
  EXPECT_THROW(cyrillic->Generator(), Exception);
  EXPECT_THAT(Rows(), IsEmpty());  // nothing stored for it
}

// The '@' places filled from the draw's date: each year a sequence of its own, the document's
// date deciding the year; a handler may still change the text; an undo after the year changed
// steps back the sequence its key came from.
TEST_P(LockModeTest, PeriodsAreSequencesOfTheirOwn) {
  auto g = Make("INV-@@@@-##");
  g->SetPeriodFormat("YYYY");
  const auto date = [&](int y, unsigned m, unsigned d) {
    g->SetDrawDate(TDate{std::chrono::year(y), std::chrono::month(m), std::chrono::day(d)});
  };
  date(2026, 12, 31);
  EXPECT_EQ(g->Generator(), "INV-2026-00");
  EXPECT_EQ(g->Generator(), "INV-2026-01");
  date(2027, 1, 1);
  EXPECT_EQ(g->Generator(), "INV-2027-00");
  date(2026, 12, 30);  // a late invoice of the old year
  EXPECT_EQ(g->Generator(), "INV-2026-02");
  date(2027, 1, 2);
  EXPECT_EQ(g->Undo(), "INV-2026-01");  // the key's own sequence
  g->GetUserPrefixes = [](TObject*, TmString& p) { p = "X" + p.str().substr(1); };
  EXPECT_EQ(g->Generator(), "INV-X027-00");
  EXPECT_THROW(g->SetPeriodFormat("YY"), Exception);  // two characters for four places
  EXPECT_THROW(g->SetFiscalYearStart(13), Exception);
}

TEST_F(CycleTest, MaskWithoutCountingPartReturnsTheFreshPrefix) {
  auto g = Make("@-X");
  int calls = 0;
  g->GetUserPrefixes = [&](TObject*, TmString& p) { p = std::to_string(++calls); };
  EXPECT_EQ(g->Generator(), "1-X");
  EXPECT_EQ(g->Generator(), "2-X");
  EXPECT_THAT(Rows(), IsEmpty());
}

TEST_P(LockModeTest, GivesUpAfterMaxWaitLeavingTheRowAsItWas) {
  auto g = Make("##");
  g->Generator();  // 00
  g->SetMaxWait(0);
  // Every store of the drawn value fails: the lock is given back and nothing else changes.
  store->FailUpdates(kDb, kTable, {InTransaction() ? 1 : 3});
  try {
    g->Generator();
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              "Can not generate a new value: the row of table GENTBL.DB stayed busy for 0 "
              "seconds");
    EXPECT_EQ(e.Kind(), TErrorKind::kBusy);
  }
  Row r = Rows().front();
  EXPECT_EQ(r.state, 0);
  EXPECT_EQ(r.suffix, "00");
  EXPECT_EQ(g->GenMask().GetSuffix(), "00");

  // A row that another client keeps in edit.
  store->HoldRow(kDb, kTable, store->Rows(kDb, kTable).front().first, true);
  EXPECT_THROW(g->Generator(), Exception);
  store->HoldRow(kDb, kTable, store->Rows(kDb, kTable).front().first, false);
  g->SetMaxWait(30);
  EXPECT_EQ(g->Generator(), "01");
}

TEST_P(LockModeTest, OnNewRecordRestartsAtTheSuffixItHandsBack) {
  // A handler that hands back nothing, or a misfit, refuses the restart: nothing is stored.
  for (const std::string misfit : {"", "5X"}) {
    SetUp();
    auto g = Make("INV-##");
    g->OnNewRecord = [&](TObject*, TmString& s) {
      if (!misfit.empty()) s = misfit;
    };
    EXPECT_THROW(g->Generator(), ERestartRefused) << misfit;
    EXPECT_THAT(Rows(), IsEmpty());
    EXPECT_EQ(g->GenMask().GetMskValue(), "INV-##");
  }
  // A new row, and a restart past the end, start where the handler says; the row stores it.
  SetUp();
  auto g = Make("#");
  std::string restart = "5";
  g->OnNewRecord = [&](TObject*, TmString& s) { s = restart; };
  EXPECT_EQ(g->Generator(), "5");
  EXPECT_EQ(g->Generator(), "6");
  SetOnlyRow({0, 0, 0, "", "9", GetTimeStamp(), "X"});
  EXPECT_EQ(g->Generator(), "5");
  EXPECT_EQ(Rows().front().suffix, "5");
  restart = "Z";
  SetOnlyRow({0, 0, 0, "", "9", GetTimeStamp(), "X"});
  EXPECT_THROW(g->Generator(), ERestartRefused);
  EXPECT_EQ(Rows().front().suffix, "9");
  EXPECT_EQ(Rows().front().state, 0);
}

// ------------------------------------------------------------------------------------------
// Both lock modes on one table

// lmTransaction alone. A transaction steps a digits-only counting part in the store ("##"),
// any other in the generator ("&&": digits come first there, so both see the same values).
class TransactionTest : public CycleTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    mode = TLockMode::lmTransaction;
    CycleTest::SetUp();
  }
};

INSTANTIATE_TEST_SUITE_P(Masks, TransactionTest, ::testing::Values("##", "&&"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                           return p.param[0] == '#' ? "Digits" : "Letters";
                         });

TEST_P(TransactionTest, ATransactionWaitsForALiveRowFieldHolderAndCountsItsTries) {
  auto g = Make(GetParam());
  EXPECT_EQ(g->Generator(), "00");
  SetOnlyRow({0, 0, 1, "", "04", GetTimeStamp(), "HOLDER"});
  int waited = 0;
  g->on_wait = [&](Client&) {
    EXPECT_EQ(Rows().front().tries, ++waited);  // each attempt counted in the row
    if (waited == 3) SetOnlyRow({0, 0, 0, "", "05", GetTimeStamp(), "HOLDER"});  // done
  };
  EXPECT_EQ(g->Generator(), "06");
  EXPECT_EQ(waited, 3);
  const Row r = Rows().front();
  EXPECT_EQ(r.state, 0);
  EXPECT_EQ(r.tries, 0);
  EXPECT_EQ(r.who, g->Who());
}

}  // namespace
}  // namespace tgen
