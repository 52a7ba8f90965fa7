// Test helper: a folder of its own for one test, with the session's alias file and data home
// pointing into it, all removed again at the end.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace tgen::testing {

class ScratchFolder {
 public:
  // A folder named NAME-PID under the temporary folder; TGEN_ALIASES names its file
  // "aliases" (holding `aliases`, when given), XDG_DATA_HOME its folder "data".
  explicit ScratchFolder(const std::string& name, const std::string& aliases = "")
      : path_(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    setenv("TGEN_ALIASES", (path_ / "aliases").c_str(), 1);
    setenv("XDG_DATA_HOME", (path_ / "data").c_str(), 1);
    if (!aliases.empty()) Aliases(aliases);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    unsetenv("TGEN_ALIASES");
    unsetenv("XDG_DATA_HOME");
    std::filesystem::remove_all(path_);
  }

  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }
  [[nodiscard]] std::filesystem::path operator/(const std::string& name) const {
    return path_ / name;
  }
  // Replaces the alias file's text.
  void Aliases(const std::string& text) const { std::ofstream(path_ / "aliases") << text; }

 private:
  std::filesystem::path path_;
};

}  // namespace tgen::testing
