// Runs a program to the end and captures what it printed, for tests of the tools.
#pragma once

#include <string>
#include <vector>

namespace tgen::testing {

struct ProcessResult {
  int exit_code = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

// Runs argv[0] with the arguments argv[1...] (no shell), standard input closed.
ProcessResult RunProcess(const std::vector<std::string>& argv);

}  // namespace tgen::testing
