// genkey preview and check, run as a user runs them: the built binary, its output and status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/process_testing.h"

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
      {{"--mask", "AB[", "--start", "1"},
       1,
       "genkey: the mask 'AB[' is refused: Missing ] symbol in Mask!\n"},
      {{"--mask", ""},
       1,
       "genkey: the mask is empty; give one with --mask, e.g. --mask 'INV-####'\n"},
      // Every check a draw runs.
      {{"--mask", "##", "--start", "50", "--end", "10"},
       1,
       "genkey: start value \"50\" does not sort before end value \"10\"\n"},
      {{"--mask", std::string(21, 'P') + "#"},
       1,
       "genkey: the keys' Prefix '" + std::string(21, 'P') +
           "' is 21 characters long; a generator table's Prefix field holds 20\n"},
      {{"--mask", "INV-@@-#"},
       1,
       "genkey: the mask 'INV-@@-#' has 2 '@' place(s), and --proc gives 0 character(s): give "
       "exactly 2\n"},
      // Masks whose keys would repeat.
      {{"--mask", "D-[AAB]"},
       1,
       "genkey: cannot draw from the mask 'D-[AAB]': the set [AAB] at position 3 holds 'A' "
       "twice\n"},
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
  EXPECT_EQ(Genkey({"check", "--mask", "I-@@-#", "--period", "YY", "--date", "2027-01-02"}).out,
            "mask ok: 6 elements, 1 counting places; first value I-27-0\n");
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

// In a UTF-8 locale text comes in and goes out as UTF-8, and tables keep Windows-1251 bytes;
// --raw, and the C locale, take and print the bytes as they are.
TEST(Genkey, TextInTheUsersEncoding) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string out, err;
  };
  const std::string utf8 = "LC_ALL=C.UTF-8";
  const std::vector<Case> cases = {
      {{utf8, "preview", "--mask", "X-[АБВ]#", "-n", "2"}, 0, "X-А0\nX-А1\n", ""},
      {{utf8, "check", "--mask", "X-中#"},
       1,
       "",
       "genkey: --mask: the character U+4E2D at position 3 has no place in Windows-1251\n"},
      {{utf8, "check", "--mask", "##", "--start", "Ж1"},
       1,
       "",
       "genkey: start value \"Ж1\" does not fit the mask: position 1 is not a digit\n"},
      {{utf8, "--raw", "preview", "--mask", "X-[\xC0\xC1]#", "-n", "1"},
       0,
       "X-\xC0"
       "0\n",
       ""},
      // For programs: JSON, whose text is UTF-8 in any locale.
      {{"LC_ALL=C", "preview", "--mask", "X-[\xC0\xC1]#", "-n", "1", "--json"},
       0,
       "{\"value\":\"X-А0\"}\n",
       ""},
      {{utf8, "verify", "--check", "luhn", "79927398713", "1", "--json"},
       1,
       "{\"key\":\"79927398713\",\"ok\":true}\n{\"key\":\"1\",\"ok\":false}\n",
       ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin() + 1, GENKEY_PATH);
    args.insert(args.begin(), "/usr/bin/env");
    const auto r = RunProcess(args);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args.at(2);
    EXPECT_EQ(r.out, c.out) << c.args.at(2);
    EXPECT_EQ(r.err, c.err) << c.args.at(2);
  }
}

// Bad command lines: one voice ("genkey: ..."), what to do next, and exit status 2.
TEST(Genkey, UsageErrorsSayWhatToDo) {
  struct Case {
    std::vector<std::string> args;
    std::string err;  // its first line
  };
  const std::vector<Case> cases = {
      {{},
       "genkey: a sub-command is required: next shell preview check verify reference table "
       "aliases tables form"},
      {{"frobnicate"}, "genkey: The following argument was not expected: frobnicate"},
      {{"preview"}, "genkey: --mask is required"},
      {{"preview", "--mask", "#", "--count", "x"},
       "genkey: --count: must be a whole number, at least 0, not 'x'"},
      {{"next", "--mask", "#", "-n", "0"},
       "genkey: --count: must be a whole number, at least 1, not '0'"},
      {{"next", "--mask", "#", "--lock", "sometimes"},
       "genkey: --lock: sometimes not in {transaction,fields}"},
      {{"verify", "--check", "crc", "1"},
       "genkey: --check: crc not in {none,luhn,mod97,mod37,damm}"},
  };
  for (const Case& c : cases) {
    const auto r = Genkey(c.args);
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.err);
  }
  EXPECT_NE(Genkey({"frobnicate"}).err.find("the sub-commands are: next shell"), std::string::npos);
  const auto help = Genkey({"preview", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("--mask"), std::string::npos);
}

}  // namespace
}  // namespace tgen
