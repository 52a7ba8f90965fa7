// The commands of genkey. Each command is a function of its options and two output streams,
// so that it can be run and tested without the command-line parser; main() only parses.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

namespace tgen::genkey {

// Exit codes of the tool.
enum ExitCode : int {
  kOk = 0,
  kFailure = 1,  // the work failed: a mask that does not parse, a value refused, ...
  kUsage = 2,    // the command line itself was wrong
};

struct PreviewOptions {
  std::string mask;
  std::optional<std::string> start;
  std::optional<std::string> end;
  std::optional<std::string> from;  // the suffix of the first value shown
  std::optional<std::string> proc;  // the text for the user-procedure places
  long long count = 10;
  bool down = false;
};

// Prints the first value and count - 1 values after it, one a line, stepping up (or down).
int RunPreview(const PreviewOptions& options, std::ostream& out, std::ostream& err);

struct CheckOptions {
  std::string mask;
  std::optional<std::string> start;
  std::optional<std::string> end;
};

// Parses the mask and sets the bounds; succeeds when every given value was kept.
int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err);

}  // namespace tgen::genkey
