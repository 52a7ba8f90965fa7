#include "platform/notice.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tgen {
namespace {

TEST(Notices, ConsoleSinkWritesCaptionAndText) {
  std::ostringstream out;
  ConsoleNoticeSink sink(out);
  EXPECT_EQ(sink.MessageBox("Error at position-2 1A", "TGenMask", MB_ICONSTOP), IDOK);
  sink.ShowMessage("Can NOT undo!");
  sink.MessageBox("no caption", "", MB_OK);
  EXPECT_EQ(out.str(), "TGenMask: Error at position-2 1A\nCan NOT undo!\nno caption\n");
}

TEST(Notices, InstalledSinkReceivesNoticesUntilTheGuardEnds) {
  auto outer = std::make_shared<RecordingNoticeSink>();
  const ScopedNoticeSink outer_guard(outer);
  {
    auto inner = std::make_shared<RecordingNoticeSink>();
    const ScopedNoticeSink inner_guard(inner);
    MessageBox("text", "Caption", MB_ICONINFORMATION);
    ShowMessage("plain");
    const std::vector<RecordingNoticeSink::Notice> expected = {
        {"text", "Caption", MB_ICONINFORMATION, false}, {"plain", "", 0, true}};
    EXPECT_EQ(inner->Notices(), expected);
  }
  ShowMessage("after");
  EXPECT_EQ(outer->Texts(), std::vector<std::string>{"after"});
}

}  // namespace
}  // namespace tgen
