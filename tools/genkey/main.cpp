// genkey: draws key values from masks and looks after generator tables.
#include <CLI/CLI.hpp>
#include <iostream>

#include "tools/genkey/commands.h"

namespace {

using tgen::genkey::CheckOptions;
using tgen::genkey::PreviewOptions;

void AddPreview(CLI::App& app, PreviewOptions& o) {
  CLI::App* cmd =
      app.add_subcommand("preview", "Print the values a mask steps through, one a line");
  cmd->add_option("-m,--mask", o.mask, "The mask, e.g. 'INV-[AB]##'")->required();
  cmd->add_option("-s,--start", o.start, "Start value of the counting part (suffix)");
  cmd->add_option("-e,--end", o.end, "End value of the counting part");
  cmd->add_option("-f,--from", o.from, "Suffix of the first value (default: the start value)");
  cmd->add_option("-n,--count", o.count, "How many values to print")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  cmd->add_flag("-d,--down", o.down, "Step down instead of up");
  cmd->add_option("-p,--proc", o.proc, "Text for the user-procedure places ('@')");
  cmd->footer(
      "Mask symbols: [..] a character from a set, # digit, $ letter, & digit or letter, @ "
      "user-procedure place; any other character is fixed.\nValues are printed one a line, "
      "bytes as they are; past the end the sequence restarts, below the start it wraps.");
}

void AddCheck(CLI::App& app, CheckOptions& o) {
  CLI::App* cmd = app.add_subcommand(
      "check", "Check a mask and its start and end values; exit 1 if any is refused");
  cmd->add_option("-m,--mask", o.mask, "The mask")->required();
  cmd->add_option("-s,--start", o.start, "Start value to check");
  cmd->add_option("-e,--end", o.end, "End value to check");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"genkey: formatted key values from masks and shared sequences"};
  app.set_version_flag("--version", std::string("genkey ") + TGEN_VERSION);
  app.require_subcommand(1);

  PreviewOptions preview;
  CheckOptions check;
  AddPreview(app, preview);
  AddCheck(app, check);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version are successes; every other parse error is a usage error.
    const int code = app.exit(e);
    return code == 0 ? tgen::genkey::kOk : tgen::genkey::kUsage;
  }

  try {
    if (app.got_subcommand("preview")) return RunPreview(preview, std::cout, std::cerr);
    return RunCheck(check, std::cout, std::cerr);
  } catch (const std::exception& e) {
    // Nothing known throws here; a surprise is still a clean failure, not an abort.
    std::cerr << "genkey: " << e.what() << '\n';
    return tgen::genkey::kFailure;
  }
}
