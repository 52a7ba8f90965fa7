#include "design/qtnotice.h"

#include <QApplication>
#include <QMessageBox>
#include <QStringDecoder>
#include <QStringEncoder>
#include <memory>

namespace tgen {

int QtNoticeSink::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  QMessageBox box((flags & MB_ICONSTOP) != 0 ? QMessageBox::Critical : QMessageBox::Information,
                  FromBytes(caption), FromBytes(text), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
  return IDOK;
}

void QtNoticeSink::ShowMessage(std::string_view text) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), FromBytes(text),
                  QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

void QtNoticeSink::SetScreenCursor(int cursor) {
  if (cursor == crAppStart && !busy_) {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    busy_ = true;
  } else if (cursor == crDefault && busy_) {
    QApplication::restoreOverrideCursor();
    busy_ = false;
  }
}

void InstallQtNoticeSink() {
  SetNoticeSink(std::make_shared<QtNoticeSink>());
}

QString FromBytes(std::string_view bytes) {
  QStringDecoder decode("windows-1251");
  if (!decode.isValid())
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  return decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string ToBytes(const QString& text) {
  QStringEncoder encode("windows-1251");
  const QByteArray bytes = encode.isValid() ? QByteArray(encode(text)) : text.toLatin1();
  return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

}  // namespace tgen
