// Answers the modal dialogs that a call under test opens, as a user would.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>

namespace tgen::testing {

// Saves a picture of `window` as NAME.png in the folder $TGEN_SCREENSHOTS names, for a person
// to look at (scripts/screenshots.sh); without it, nothing.
inline void Shoot(QWidget& window, const QString& name) {
  const QString dir = qEnvironmentVariable("TGEN_SCREENSHOTS");
  if (dir.isEmpty()) return;
  QDir().mkpath(dir);
  QVERIFY(window.grab().save(dir + "/" + name + ".png"));
}

// Runs `answer` on the modal dialog that the next call opens.
inline void WhenModal(std::function<void(QDialog&)> answer) {
  QTimer::singleShot(0, [answer] {
    auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    QVERIFY(dlg != nullptr);
    answer(*dlg);
  });
}

// Clicks the dialog's button of that object name.
inline void Click(QDialog& dlg, const char* name) {
  QTest::mouseClick(dlg.findChild<QPushButton*>(name), Qt::LeftButton);
}

}  // namespace tgen::testing
