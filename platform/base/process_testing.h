// Runs programs and forked clients for the tests: to the end, or alive and talked to line by
// line.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tgen::testing {

struct ProcessResult {
  int exit_code = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

// The whole content of a file, byte for byte; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// A text cut at its newlines.
std::vector<std::string> Lines(const std::string& text);

// Runs argv[0] with the arguments argv[1...] (no shell), standard input closed.
ProcessResult RunProcess(const std::vector<std::string>& argv);

// A running program with a pipe to its standard input and one from its standard output;
// its standard error goes to a file read at the end. Killed and reaped when destroyed.
class Process {
 public:
  explicit Process(const std::vector<std::string>& argv);
  // Runs `body` in a child of this process with those pipes; its exit status is what `body`
  // returns, or 1 when it throws, told on standard error.
  explicit Process(const std::function<int()>& body);
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  [[nodiscard]] pid_t Pid() const { return pid_; }
  void Send(const std::string& text);
  void CloseInput();
  // The next line of output (without its newline); nothing when none came in time or the
  // output ended.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Everything printed so far and from now on, up to the end of output.
  std::string ReadAll();
  void Kill(int signal);
  // Waits for the end; `out` holds what ReadLine did not take.
  ProcessResult Wait();

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string err_path_;
  std::string buffer_;
  bool reaped_ = false;
  int status_ = 0;
};

}  // namespace tgen::testing
