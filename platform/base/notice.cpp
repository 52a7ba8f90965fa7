#include "platform/base/notice.h"

#include <iostream>

namespace tgen {

ConsoleNoticeSink::ConsoleNoticeSink(std::ostream& out) : out_(out) {}

int ConsoleNoticeSink::MessageBox(std::string_view text, std::string_view caption,
                                  unsigned /*flags*/) {
  const std::lock_guard lock(mutex_);
  if (!caption.empty()) out_ << caption << ": ";
  out_ << text << '\n' << std::flush;
  return IDOK;
}

void ConsoleNoticeSink::ShowMessage(std::string_view text) {
  const std::lock_guard lock(mutex_);
  out_ << text << '\n' << std::flush;
}

int RecordingNoticeSink::MessageBox(std::string_view text, std::string_view caption,
                                    unsigned flags) {
  const std::lock_guard lock(mutex_);
  notices_.push_back({std::string(text), std::string(caption), flags, false});
  return IDOK;
}

void RecordingNoticeSink::ShowMessage(std::string_view text) {
  const std::lock_guard lock(mutex_);
  notices_.push_back({std::string(text), {}, 0, true});
}

void RecordingNoticeSink::SetScreenCursor(int cursor) {
  const std::lock_guard lock(mutex_);
  cursors_.push_back(cursor);
}

std::vector<int> RecordingNoticeSink::Cursors() const {
  const std::lock_guard lock(mutex_);
  return cursors_;
}

std::vector<RecordingNoticeSink::Notice> RecordingNoticeSink::Notices() const {
  const std::lock_guard lock(mutex_);
  return notices_;
}

std::vector<std::string> RecordingNoticeSink::Texts() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  texts.reserve(notices_.size());
  for (const Notice& n : notices_)
    texts.push_back(n.text);
  return texts;
}

void RecordingNoticeSink::Clear() {
  const std::lock_guard lock(mutex_);
  notices_.clear();
  cursors_.clear();
}

namespace {

std::mutex sink_mutex;

std::shared_ptr<NoticeSink>& InstalledSink() {
  static std::shared_ptr<NoticeSink> sink = std::make_shared<ConsoleNoticeSink>(std::cerr);
  return sink;
}

// A copy of the installed sink, so that a notice in progress keeps its sink alive even when
// another thread installs a new one meanwhile.
std::shared_ptr<NoticeSink> CurrentSink() {
  const std::lock_guard lock(sink_mutex);
  return InstalledSink();
}

}  // namespace

std::shared_ptr<NoticeSink> SetNoticeSink(std::shared_ptr<NoticeSink> sink) {
  if (!sink) sink = std::make_shared<ConsoleNoticeSink>(std::cerr);
  const std::lock_guard lock(sink_mutex);
  std::swap(InstalledSink(), sink);
  return sink;
}

int MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  return CurrentSink()->MessageBox(text, caption, flags);
}

void ShowMessage(std::string_view text) {
  CurrentSink()->ShowMessage(text);
}

void SetScreenCursor(int cursor) {
  CurrentSink()->SetScreenCursor(cursor);
}

}  // namespace tgen
