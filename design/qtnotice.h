// Notices for Qt programs: modal message boxes, and Qt's busy and normal cursors.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "platform/base/notice.h"

namespace tgen {

// Shows each notice as a modal QMessageBox with one OK button: a message box with its caption
// and its icon (stop or information), the plain message window with the application's name as
// caption. The screen cursor becomes Qt's busy cursor for crAppStart and the normal one again
// for crDefault. Use from the GUI thread.
class QtNoticeSink final : public NoticeSink {
 public:
  int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
  void ShowMessage(std::string_view text) override;
  void SetScreenCursor(int cursor) override;

 private:
  bool busy_ = false;
};

// Installs a QtNoticeSink for the whole process (a console program keeps the console sink).
void InstallQtNoticeSink();

// Texts of the system are single bytes of the Windows-1251 code page; Qt's are Unicode.
QString FromBytes(std::string_view bytes);
std::string ToBytes(const QString& text);

}  // namespace tgen
