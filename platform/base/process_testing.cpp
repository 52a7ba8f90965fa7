#include "platform/base/process_testing.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tgen::testing {

namespace {

std::string TempPath() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/tgen-proc-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  close(fd);
  return path;
}

// Pointers to the texts, ending in a null pointer, as exec takes them; made before a fork.
std::vector<char*> CStrings(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (const std::string& t : texts)
    pointers.push_back(const_cast<char*>(t.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

Process::Process(const std::vector<std::string>& argv)
    : Process([args = CStrings(argv)] {
        execve(args[0], args.data(), environ);
        std::perror(args[0]);
        return 127;
      }) {}

Process::Process(const std::function<int()>& body) : err_path_(TempPath()) {
  int in_pipe[2];
  int out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::fflush(nullptr);  // nothing buffered here is written twice
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int err = open(err_path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (dup2(in_pipe[0], 0) < 0 || dup2(out_pipe[1], 1) < 0 || dup2(err, 2) < 0) std::_Exit(2);
    close(in_pipe[1]);  // the parent's ends: a forked child runs on without an exec
    close(out_pipe[0]);
    int status = 1;
    try {
      status = body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
    }
    std::fflush(nullptr);
    std::_Exit(status);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  in_ = in_pipe[1];
  out_ = out_pipe[0];
}

Process::~Process() {
  if (!reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  if (in_ >= 0) close(in_);
  if (out_ >= 0) close(out_);
  std::remove(err_path_.c_str());
}

void Process::Send(const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = write(in_, text.data() + sent, text.size() - sent);
    if (n <= 0) throw std::runtime_error("cannot write to the process");
    sent += static_cast<std::size_t>(n);
  }
}

void Process::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

std::optional<std::string> Process::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const std::size_t newline = buffer_.find('\n');
    if (newline != std::string::npos) {
      std::string line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{out_, POLLIN, 0};
    // Looks at least once, so that a short timeout still takes what has come.
    if (poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0))) <= 0) {
      if (left.count() <= 0) return std::nullopt;
      continue;
    }
    char chunk[4096];
    const ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) return std::nullopt;
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

std::string Process::ReadAll() {
  char chunk[4096];
  ssize_t n = 0;
  while ((n = read(out_, chunk, sizeof chunk)) > 0)
    buffer_.append(chunk, static_cast<std::size_t>(n));
  std::string all = std::move(buffer_);
  buffer_.clear();
  return all;
}

void Process::Kill(int signal) {
  kill(pid_, signal);
}

ProcessResult Process::Wait() {
  CloseInput();
  ProcessResult result;
  result.out = ReadAll();
  if (!reaped_) {
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
  }
  result.exit_code = ExitCode(status_);
  result.err = ReadFile(err_path_);
  return result;
}

ProcessResult RunProcess(const std::vector<std::string>& argv) {
  Process p(argv);
  return p.Wait();
}

}  // namespace tgen::testing
