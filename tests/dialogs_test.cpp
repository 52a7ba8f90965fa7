// The Qt dialogs driven as a user drives them: clicks, keys and focus changes on the named
// controls. Modal boxes are answered through the notice seam (a recording sink), so nothing
// waits. scripts/screenshots.sh has the tests save pictures of the dialogs in their states.
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "core/gentable.h"
#include "core/period.h"
#include "design/gendlg.h"
#include "design/qtnotice.h"
#include "design/setupdlg.h"
#include "design/uabt.h"
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

  void addEverySymbolKind_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<bool>("editable");
    const struct {
      int kind;
      const char* mask;
      bool editable;
    } rows[] = {{0, "kept", true}, {1, "[kept]", true}, {2, "@", false},
                {3, "#", false},   {4, "$", false},     {5, "&", false}};
    for (const auto& r : rows)
      QTest::newRow(r.mask) << r.kind << QString(r.mask) << r.editable;
  }
  void addEverySymbolKind() {
    QFETCH(int, kind);
    QFETCH(QString, mask);
    QFETCH(bool, editable);
    TEMskDlg dlg;
    Show(dlg);
    Type(Find<QLineEdit>(dlg, "Edit2"), "kept");
    Choose(Find<QRadioButton>(dlg, qPrintable(QString("RGItem%1").arg(kind))));
    QCOMPARE(!Find<QLineEdit>(dlg, "Edit2")->isReadOnly(), editable);
    QCOMPARE(Find<QLineEdit>(dlg, "Edit2")->text(), "kept");  // greyed when read-only
    Click(dlg, "Addbtn");
    QCOMPARE(Find<QLineEdit>(dlg, "Edit1")->text(), mask);
    QVERIFY(Find<QPushButton>(dlg, "Testbtn")->isEnabled());
    dlg.reject();
  }

  void tryOutShowsKeysAsTheGeneratorMakesThem() {
    TEMskDlg dlg;
    Find<QLineEdit>(dlg, "Edit1")->setText("INV-@@@@-##");
    dlg.SetTryOut("YYYY", 1, TCheckMethod::cmMod97);
    Show(dlg);
    Click(dlg, "Testbtn");
    const std::string value = "INV-" + FormatPeriod("YYYY", Today(), 1) + "-01";
    Click(dlg, "Plusbtn");
    QCOMPARE(Find<QLineEdit>(dlg, "Edit3")->text(),
             QString::fromStdString(value + CheckCharacters(TCheckMethod::cmMod97, value)));
    dlg.reject();
  }

  // --- Database setup dialog ----------------------------------------------------------------

  void setupDialogFollowsTheAlias() {
    const testing::ScratchFolder dir(
        "setupdlg", "Shop = sqlite:shop\nBooks = sqlite:books\nLater = sqlite:later\n");
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

    // Picks from the list with the arrow keys: the table list follows each pick (a key that
    // cannot move the pick picks nothing).
    db->setFocus();
    int changes = 0;
    for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Down, Qt::Key_Down}) {
      tbl->setEditText("left over");
      const QSignalSpy picks(db, &QComboBox::textActivated);
      QTest::keyClick(db, key);
      const bool picked = !picks.isEmpty();
      changes += picked ? 1 : 0;
      QCOMPARE(tbl->currentText(), picked ? "" : "left over");
      QCOMPARE(tbl->count(), db->currentText() == "Shop" ? 2 : 1);
    }
    QVERIFY(changes >= 2);
    QCOMPARE(db->currentText(), "Books");
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

    // A component's alias that cannot be listed is not offered; picking it from the list runs
    // the change all the same.
    TDBSetupDlg again;
    auto* again_db = Find<QComboBox>(again, "DBName");
    again_db->addItems({"Shop", "Nowhere"});
    again.Preselect("Nowhere", "X.DB");
    QCOMPARE(again_db->currentText(), "");
    QVERIFY(Find<QComboBox>(again, "TblName")->isEnabled());
    again_db->setCurrentIndex(1);
    emit again_db->textActivated("Nowhere");
    QVERIFY(!Find<QComboBox>(again, "TblName")->isEnabled());

    // An alias whose folder is not made yet has no tables, and that is no error.
    TDBSetupDlg first;
    Show(first);
    QTest::keyClicks(Find<QComboBox>(first, "DBName")->lineEdit(), "Later");
    QVERIFY(Find<QComboBox>(first, "TblName")->isEnabled());
    QCOMPARE(Find<QComboBox>(first, "TblName")->count(), 0);
    first.reject();
  }

  void qtNoticeSinkShowsModalBoxes() {
    const ScopedNoticeSink qt(std::make_shared<QtNoticeSink>());
    QString seen;
    // Answers the box that the notice opens, as a user would, once it is up.
    auto answer = [&seen] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      seen = box->windowTitle() + "|" + box->text() + "|" + QString::number(box->icon()) + "|" +
             QString::number(box->buttons().size());
      QTest::mouseClick(box->buttons().front(), Qt::LeftButton);
    };
    QTimer::singleShot(0, answer);
    QCOMPARE(MessageBox("Error at position-2 1A", "TGenMask", MB_ICONSTOP), IDOK);
    QCOMPARE(seen, QString("TGenMask|Error at position-2 1A|%1|1").arg(QMessageBox::Critical));
    QTimer::singleShot(0, answer);
    ShowMessage("Can NOT undo!");
    QCOMPARE(seen, QString("%1|Can NOT undo!|%2|1")
                       .arg(QApplication::applicationName())
                       .arg(QMessageBox::NoIcon));
    SetScreenCursor(crAppStart);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
    SetScreenCursor(crDefault);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

  void executeCmndRefusesLongTexts() {
    QStringList opened;
    SetAddressOpener([&opened](const QUrl& url) {
      opened << url.toString();
      return url.scheme() != "nothing";
    });
    const std::string address = "https://tgenerator.invalid/";
    QVERIFY(ExecuteCmnd(address + std::string(79 - address.size(), 'a'), "", "c:", 1) > 32);
    QCOMPARE(ExecuteCmnd(address + std::string(80 - address.size(), 'a'), "", "c:", 1), 11);
    QCOMPARE(ExecuteCmnd("https://x", std::string(80, 'p'), "c:", 1), 11);
    QCOMPARE(ExecuteCmnd("nothing:x", "", "", 1), 31);
    QCOMPARE(opened.size(), 2);
    SetAddressOpener(nullptr);
  }
};

}  // namespace tgen

QTEST_MAIN(tgen::DialogsTest)
#include "dialogs_test.moc"
