// The Qt dialogs driven as a user drives them: clicks, keys and focus changes on the named
// controls. Modal boxes are answered through the notice seam (a recording sink), so nothing
// waits. scripts/screenshots.sh has the tests save pictures of the dialogs in their states.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <memory>

#include "core/gentable.h"
#include "design/gendlg.h"
#include "design/setupdlg.h"
#include "platform/base/notice.h"
#include "platform/store/scratch_testing.h"
#include "platform/store/session.h"
#include "tests/modal.h"

namespace tgen {

using testing::Click;
using testing::Shoot;

class DialogsTest : public QObject {
  Q_OBJECT

 private:
  std::shared_ptr<RecordingNoticeSink> notices_;
  std::unique_ptr<ScopedNoticeSink> guard_;

  template <typename T>
  static T* Find(QWidget& dialog, const char* name) {
    T* w = dialog.findChild<T*>(name);
    if (w == nullptr) qFatal("no control named %s", name);
    return w;
  }
  static void Show(QWidget& dialog) {
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
  }
  // Clicks a radio button on its round indicator.
  static void Choose(QRadioButton* item) {
    QTest::mouseClick(item, Qt::LeftButton, {}, QPoint(7, item->height() / 2));
  }
  // Gives a box the focus and types into it.
  static void Type(QLineEdit* edit, const QString& text) {
    edit->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(edit, text);
  }
  QStringList Texts() const {
    QStringList texts;
    for (const std::string& t : notices_->Texts())
      texts << QString::fromStdString(t);
    return texts;
  }

 private slots:
  void init() {
    notices_ = std::make_shared<RecordingNoticeSink>();
    guard_ = std::make_unique<ScopedNoticeSink>(notices_);
    SvValid = false;
    EvValid = false;
  }
  void cleanup() {
    guard_.reset();
    for (QWidget* w : QApplication::topLevelWidgets()) {
      QVERIFY2(!w->isVisible(), "a window was left open");
    }
  }

  // --- Mask edit dialog --------------------------------------------------------------------

  // A mask composed, started, tried out and taken, with the slips a user makes on the way.
  void composeTryAndTake() {
    {
      TEMskDlg dlg;
      Show(dlg);
      // Composing starts in the mask box.
      QCOMPARE(QApplication::focusWidget(), Find<QLineEdit>(dlg, "Edit1"));
      Shoot(dlg, "maskdlg-new");
      Click(dlg, "Addbtn");  // no kind chosen
      Choose(Find<QRadioButton>(dlg, "RGItem1"));
      Click(dlg, "Addbtn");  // an empty set: appended, then refused
      QCOMPARE(Texts(),
               (QStringList{"Select symbol to add!", "Empty set in mask picture at position:0!"}));
      Click(dlg, "Erasebtn");
      Choose(Find<QRadioButton>(dlg, "RGItem0"));
      Type(Find<QLineEdit>(dlg, "Edit2"), "INV");
      Click(dlg, "Addbtn");
      Choose(Find<QRadioButton>(dlg, "RGItem3"));
      Click(dlg, "Addbtn");
      Click(dlg, "Addbtn");
      QCOMPARE(Find<QLineEdit>(dlg, "Edit1")->text(), "INV##");
      QCOMPARE(Find<QLineEdit>(dlg, "Edit2")->text(), "INV");  // kept for the next static part

      notices_->Clear();
      auto* sv = Find<QLineEdit>(dlg, "svEdit");
      Type(sv, "1");
      QTest::mouseClick(Find<QLineEdit>(dlg, "evEdit"), Qt::LeftButton);  // leaves svEdit
      QCOMPARE(Texts(), QStringList{"Invalid StartValue"});
      QVERIFY(!SvValid);
      sv->clear();
      Type(sv, "01");
      Click(dlg, "Testbtn");  // the exit runs first
      QVERIFY(SvValid);
      QCOMPARE(Find<QLineEdit>(dlg, "Edit3")->text(), "INV01");
      Shoot(dlg, "maskdlg-testing");
      Click(dlg, "Plusbtn");
      QCOMPARE(Find<QLineEdit>(dlg, "Edit3")->text(), "INV02");
      Click(dlg, "Minusbtn");
      QCOMPARE(Find<QLineEdit>(dlg, "Edit3")->text(), "INV01");
      Click(dlg, "Endbtn");
      QTest::keyClick(&dlg, Qt::Key_Escape);
      QVERIFY(dlg.isVisible());  // no button answers Esc
      Click(dlg, "Okbtn");
      QCOMPARE(dlg.result(), int(QDialog::Accepted));
      QVERIFY(SvValid);
    }
    // The accepted start outlives the dialog; its engine does not.
    QVERIFY(!DlgMask);
    TEMskDlg second;
    Find<QLineEdit>(second, "Edit1")->setText("##");
    Find<QLineEdit>(second, "svEdit")->setText("05");
    Show(second);
    Click(second, "Testbtn");
    QCOMPARE(Find<QLineEdit>(second, "Edit3")->text(), "05");
    Click(second, "Endbtn");
    second.reject();
  }

  void typingABrokenMask() {
    TEMskDlg dlg;
    Show(dlg);
    Type(Find<QLineEdit>(dlg, "Edit1"), "AB[C");
    QCOMPARE(Texts(), (QStringList{"Missing ] symbol in Mask!", "Missing ] symbol in Mask!"}));
    QTest::keyClicks(Find<QLineEdit>(dlg, "Edit1"), "]#");
    QCOMPARE(Texts().size(), 2);
    QVERIFY(!Find<QPushButton>(dlg, "Testbtn")->isEnabled());  // typing leaves Test alone
    QCOMPARE(DlgMask->GetSuffix().str(), "C#");
    dlg.reject();
  }

  // --- Database setup dialog ----------------------------------------------------------------

  void setupDialogFollowsTheAlias() {
    const testing::ScratchFolder dir("setupdlg", "Shop = sqlite:shop\nBooks = sqlite:books\n");
    CreateGeneratorTable("Shop", "GENTBL.DB");
    CreateGeneratorTable("Shop", "ORDERS.DB");
    CreateGeneratorTable("Books", "ISBN.DB");

    TDBSetupDlg dlg;
    auto* db = Find<QComboBox>(dlg, "DBName");
    auto* tbl = Find<QComboBox>(dlg, "TblName");
    db->addItems({"Shop", "Books"});
    db->setCurrentIndex(-1);  // as the caller leaves it for a generator without an alias
    Show(dlg);
    QVERIFY(!tbl->isEnabled());
    Shoot(dlg, "setupdlg-new");

    db->lineEdit()->setFocus();
    QTest::keyClicks(db->lineEdit(), "Shop");
    QVERIFY(tbl->isEnabled());
    QCOMPARE(tbl->count(), 2);
    QCOMPARE(tbl->currentText(), "");
    tbl->setFocus();
    QTest::keyClicks(tbl->lineEdit(), "MINE.DB");  // a name not in the list counts too
    Shoot(dlg, "setupdlg-chosen");

    db->lineEdit()->selectAll();
    QTest::keyClicks(db->lineEdit(), "Books");  // another alias: the table is emptied
    QCOMPARE(tbl->currentText(), "");
    QCOMPARE(tbl->count(), 1);

    tbl->setEditText(QString());
    QTest::keyClicks(tbl->lineEdit(), "ISBN.DB");

    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(dlg.isVisible());
    // Enter in the alias box confirms: the table stays as chosen.
    db->lineEdit()->setFocus();
    QTest::keyClick(db->lineEdit(), Qt::Key_Return);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(db->currentText(), "Books");
    QCOMPARE(tbl->currentText(), "ISBN.DB");
  }
};

}  // namespace tgen

QTEST_MAIN(tgen::DialogsTest)
#include "dialogs_test.moc"
