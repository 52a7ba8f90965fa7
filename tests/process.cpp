#include "tests/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

Process::Process(const std::vector<std::string>& argv) : err_path_(TempPath()) {
  int in_pipe[2];
  int out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_TRUNC, 0);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in_pipe[0]);
  close(out_pipe[1]);
  in_ = in_pipe[1];
  out_ = out_pipe[0];
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
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
    if (left.count() <= 0) return std::nullopt;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
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
