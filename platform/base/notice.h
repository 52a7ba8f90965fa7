// Notices: the modal message box and the plain message window.
//
// The logic reports refusals and notices through MessageBox() and ShowMessage(). Where they go
// is decided by the process-wide notice sink: by default a console sink that writes them to
// standard error; a Qt program installs one that shows real modal boxes; tests install a
// RecordingNoticeSink. Installing and using the sink is thread-safe; each notice is delivered
// whole, on the caller's thread, and the call returns when the sink has handled it.
#pragma once

#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tgen {

// Flags of MessageBox(), with the values of the platform call they stand for.
enum MessageBoxFlags : unsigned {
  MB_OK = 0x00,
  MB_ICONSTOP = 0x10,
  MB_ICONINFORMATION = 0x40,
};

// The button that closed a message box.
constexpr int IDOK = 1;

// Screen cursors.
constexpr int crDefault = 0;
constexpr int crAppStart = -19;  // busy, but the user may go on

// Where notices go. An implementation must accept calls from any thread.
class NoticeSink {
 public:
  NoticeSink() = default;
  NoticeSink(const NoticeSink&) = delete;
  NoticeSink& operator=(const NoticeSink&) = delete;
  virtual ~NoticeSink() = default;

  // A modal box with a caption, a text, an icon from `flags` and one OK button; returns the
  // button that closed it.
  virtual int MessageBox(std::string_view text, std::string_view caption, unsigned flags) = 0;
  // The plain message window: just the text.
  virtual void ShowMessage(std::string_view text) = 0;
  // Shows the screen cursor (crDefault, crAppStart); a console has none.
  virtual void SetScreenCursor(int /*cursor*/) {}
};

// Writes `Caption: text` (or just the text of a plain message) as one line to a stream.
class ConsoleNoticeSink final : public NoticeSink {
 public:
  explicit ConsoleNoticeSink(std::ostream& out);
  int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
  void ShowMessage(std::string_view text) override;

 private:
  std::mutex mutex_;  // keeps lines of concurrent notices whole
  std::ostream& out_;
};

// Keeps every notice for a test to inspect.
class RecordingNoticeSink final : public NoticeSink {
 public:
  struct Notice {
    std::string text;
    std::string caption;  // empty for a plain message
    unsigned flags = 0;
    bool plain = false;  // ShowMessage rather than MessageBox

    friend bool operator==(const Notice&, const Notice&) = default;
  };

  int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
  void ShowMessage(std::string_view text) override;

  void SetScreenCursor(int cursor) override;

  [[nodiscard]] std::vector<Notice> Notices() const;
  // Every cursor set, in order.
  [[nodiscard]] std::vector<int> Cursors() const;
  // The texts alone, in order.
  [[nodiscard]] std::vector<std::string> Texts() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Notice> notices_;
  std::vector<int> cursors_;
};

// Installs `sink` (null: the console sink on standard error) and returns the one it replaces.
std::shared_ptr<NoticeSink> SetNoticeSink(std::shared_ptr<NoticeSink> sink);

// Installs a sink for the life of the guard and puts the previous one back afterwards.
class ScopedNoticeSink {
 public:
  explicit ScopedNoticeSink(std::shared_ptr<NoticeSink> sink)
      : previous_(SetNoticeSink(std::move(sink))) {}
  ScopedNoticeSink(const ScopedNoticeSink&) = delete;
  ScopedNoticeSink& operator=(const ScopedNoticeSink&) = delete;
  ~ScopedNoticeSink() { SetNoticeSink(previous_); }

 private:
  std::shared_ptr<NoticeSink> previous_;
};

int MessageBox(std::string_view text, std::string_view caption, unsigned flags);
void ShowMessage(std::string_view text);
void SetScreenCursor(int cursor);

}  // namespace tgen
