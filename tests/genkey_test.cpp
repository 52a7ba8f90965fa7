// genkey preview and check, run as a user runs them: the built binary, its output and status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/process.h"

namespace tgen {
namespace {

using testing::RunProcess;

testing::ProcessResult Genkey(std::vector<std::string> args) {
  args.insert(args.begin(), GENKEY_PATH);
  return RunProcess(args);
}

TEST(GenkeyPreview, PrintsTheValuesAMaskStepsThrough) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"--mask", "INV##", "--count", "3"}, "INV00\nINV01\nINV02\n"},
      {{"--mask", "INV##", "--start", "01", "-n", "2"}, "INV01\nINV02\n"},
      // Past the end the sequence restarts at the start value.
      {{"--mask", "#", "--start", "7", "--end", "8", "-n", "4"}, "7\n8\n7\n8\n"},
      // Down from the start it wraps to the end.
      {{"--mask", "[AB]#", "--start", "A1", "--end", "B2", "--down", "-n", "3"}, "A1\nB2\nB1\n"},
      {{"--mask", "X-&", "--from", "8", "-n", "4"}, "X-8\nX-9\nX-A\nX-B\n"},
      {{"--mask", "@@-#", "--proc", "NY", "-n", "2"}, "NY-0\nNY-1\n"},
      {{"--mask", "$", "--from", "\xDE", "-n", "3"}, "\xDE\n\xDF\nA\n"},  // bytes as they are
      {{"--mask", "##", "-n", "0"}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "preview");
    const auto r = Genkey(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, c.out) << args[2];
    EXPECT_EQ(r.err, "");
  }
  // Ten values unless told otherwise.
  const auto r = Genkey({"preview", "--mask", "#"});
  EXPECT_EQ(r.out, "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n");
}

TEST(GenkeyPreview, ReportsARefusedStartAndGoesOnWithout) {
  const auto r = Genkey({"preview", "--mask", "##", "--start", "1A", "-n", "1"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "00\n");
  EXPECT_EQ(r.err, "genkey: start value \"1A\" does not fit the mask: position 2 is not a digit\n");
}

TEST(GenkeyCheck, ExitStatusTellsWhetherEveryValueWasKept) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"--mask", "INV-[AB]##", "--start", "A00", "--end", "B99"}, 0, ""},
      {{"--mask", "[XYZ]#", "--end", "Q1"},
       1,
       "genkey: end value \"Q1\" does not fit the mask: 'Q' at position 1 is not in the set XYZ\n"},
      {{"--mask", "AB[", "--start", "1"}, 1, "Missing ] symbol in Mask!\n"},
      {{"--mask", "[A[B]"}, 1, "Error in mask picture at position:2!\n"},
      // Masks whose keys would repeat.
      {{"--mask", "D-[AAB]"},
       1,
       "genkey: keys cannot be drawn from this mask: the set [AAB] at position 3 holds 'A' "
       "twice\n"},
      {{"--mask", std::string(101, '#')},
       1,
       "genkey: keys cannot be drawn from this mask: its keys would be 101 characters long, and "
       "a key holds at most 100\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "check");
    const auto r = Genkey(args);
    EXPECT_EQ(r.exit_code, c.exit_code) << args[2];
    EXPECT_EQ(r.err, c.err) << args[2];
  }
  EXPECT_EQ(Genkey({"check", "--mask", "INV##", "--start", "05"}).out,
            "mask ok: 5 elements, 2 counting places, start 05; first value INV05\n");
}

TEST(GenkeyVerify, SaysOfEachKeyWhetherItsCheckIsRight) {
  auto r = Genkey({"verify", "--check", "luhn", "79927398713", "79927398710"});
  EXPECT_EQ(r.out, "79927398713 ok\n79927398710 bad\n");
  EXPECT_EQ(r.exit_code, 1);
  r = Genkey({"verify", "--check", "mod37", "A12425GABC1234002M", "a12425gabc1234002m"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(Genkey({"verify", "--check", "crc", "1"}).exit_code, 2);
}

TEST(GenkeyReference, PrintsTheCreditorReferenceOfEachKey) {
  auto r = Genkey({"reference", "539007547034", "INV-2026-0017"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 17), "RF18539007547034\n");
  EXPECT_EQ(Genkey({"reference", "--grouped", "539007547034"}).out, "RF18 5390 0754 7034\n");
  r = Genkey({"reference", std::string(22, '7')});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("1 to 21 letters and digits"), std::string::npos) << r.err;
}

TEST(Genkey, UsageErrorsExitWithTwo) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"preview"},
                                             {"frobnicate"},
                                             {"preview", "--mask", "#", "--count", "x"},
                                             {"preview", "--mask", "#", "--count", "-1"}}) {
    const auto r = Genkey(args);
    EXPECT_EQ(r.exit_code, 2) << (args.empty() ? "" : args[0]);
    EXPECT_NE(r.err, "");
  }
  const auto help = Genkey({"preview", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("--mask"), std::string::npos);
}

}  // namespace
}  // namespace tgen
