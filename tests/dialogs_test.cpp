// The Qt dialogs driven as a user drives them: clicks, keys and focus changes on the named
// controls. Modal boxes are answered through the notice seam (a recording sink), so nothing
// waits. scripts/screenshots.sh has the tests save pictures of the dialogs in their states.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "core/gentable.h"
#include "core/period.h"
#include "design/gendlg.h"
#include "design/qtnotice.h"
#include "design/setupdlg.h"
#include "design/uabt.h"
#include "platform/base/notice.h"
#include "platform/store/session.h"
#include "tests/modal.h"

namespace tgen {

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

  void workedExample() {
    TEMskDlg dlg;
    Show(dlg);
    QCOMPARE(QApplication::focusWidget(), Find<QLineEdit>(dlg, "Edit1"));  // composing starts here
    Shoot(dlg, "maskdlg-new");

    Choose(Find<QRadioButton>(dlg, "RGItem0"));
    Type(Find<QLineEdit>(dlg, "Edit2"), "INV");
    QTest::mouseClick(Find<QPushButton>(dlg, "Addbtn"), Qt::LeftButton);
    QCOMPARE(Find<QLineEdit>(dlg, "Edit1")->text(), "INV");
    Choose(Find<QRadioButton>(dlg, "RGItem3"));
    QTest::mouseClick(Find<QPushButton>(dlg, "Addbtn"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(dlg, "Addbtn"), Qt::LeftButton);
    QCOMPARE(Find<QLineEdit>(dlg, "Edit1")->text(), "INV##");
    QVERIFY(Find<QPushButton>(dlg, "Testbtn")->isEnabled());

    auto* sv = Find<QLineEdit>(dlg, "svEdit");
    Type(sv, "1");
    QTest::mouseClick(Find<QLineEdit>(dlg, "evEdit"), Qt::LeftButton);  // leaves svEdit
    QCOMPARE(Texts(), QStringList{"Invalid StartValue"});
    QVERIFY(!SvValid);
    sv->clear();
    Type(sv, "01");
    QTest::mouseClick(Find<QPushButton>(dlg, "Testbtn"), Qt::LeftButton);  // the exit runs first
    QVERIFY(SvValid);
    QCOMPARE(Texts(), QStringList{"Invalid StartValue"});
    QCOMPARE(Find<QLineEdit>(dlg, "Edit3")->text(), "INV01");
    Shoot(dlg, "maskdlg-testing");

    QTest::mouseClick(Find<QPushButton>(dlg, "Plusbtn"), Qt::LeftButton);
    QCOMPARE(Find<QLineEdit>(dlg, "Edit3")->text(), "INV02");
    QTest::mouseClick(Find<QPushButton>(dlg, "Minusbtn"), Qt::LeftButton);
    QCOMPARE(Find<QLineEdit>(dlg, "Edit3")->text(), "INV01");
    QTest::mouseClick(Find<QPushButton>(dlg, "Endbtn"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(dlg, "Okbtn"), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
  }

  void tryOutShowsKeysAsTheGeneratorMakesThem() {
    TEMskDlg dlg;
    Find<QLineEdit>(dlg, "Edit1")->setText("INV-@@@@-##");
    dlg.SetTryOut("YYYY", 1, TCheckMethod::cmMod97);
    Show(dlg);
    QTest::mouseClick(Find<QPushButton>(dlg, "Testbtn"), Qt::LeftButton);
    const std::string year = FormatPeriod("YYYY", Today(), 1);
    const auto key = [&](const std::string& n) {
      const std::string value = "INV-" + year + "-" + n;
      return QString::fromStdString(value + CheckCharacters(TCheckMethod::cmMod97, value));
    };
    QCOMPARE(Find<QLineEdit>(dlg, "Edit3")->text(), key("00"));
    QTest::mouseClick(Find<QPushButton>(dlg, "Plusbtn"), Qt::LeftButton);
    QCOMPARE(Find<QLineEdit>(dlg, "Edit3")->text(), key("01"));
    dlg.reject();
  }

  void addEverySymbolKind_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<bool>("editable");
    const struct {
      const char* name;
      int kind;
      const char *text, *mask;
      bool editable;
    } rows[] = {{"static", 0, "AB", "AB", true},  {"static, nothing typed", 0, "", "", true},
                {"set", 1, "xyz", "[xyz]", true}, {"user procedure", 2, "kept", "@", false},
                {"number", 3, "", "#", false},    {"character", 4, "", "$", false},
                {"charnum", 5, "", "&", false}};
    for (const auto& r : rows)
      QTest::newRow(r.name) << r.kind << QString(r.text) << QString(r.mask) << r.editable;
  }
  void addEverySymbolKind() {
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(QString, mask);
    QFETCH(bool, editable);
    TEMskDlg dlg;
    Show(dlg);
    Type(Find<QLineEdit>(dlg, "Edit2"), text);
    Choose(Find<QRadioButton>(dlg, qPrintable(QString("RGItem%1").arg(kind))));
    QCOMPARE(!Find<QLineEdit>(dlg, "Edit2")->isReadOnly(), editable);
    QCOMPARE(Find<QLabel>(dlg, "Label2")->isEnabled(), editable);
    QCOMPARE(Find<QLineEdit>(dlg, "Edit2")->text(), text);  // kept, greyed when read-only
    QTest::mouseClick(Find<QPushButton>(dlg, "Addbtn"), Qt::LeftButton);
    QCOMPARE(Find<QLineEdit>(dlg, "Edit1")->text(), mask);
    QCOMPARE(Find<QPushButton>(dlg, "Testbtn")->isEnabled(), !mask.isEmpty());
    QCOMPARE(Find<QLineEdit>(dlg, "svEdit")->isEnabled(), !mask.isEmpty());
    QVERIFY(notices_->Notices().empty());
    dlg.reject();
  }

  void addWithoutKindAndEmptySet() {
    TEMskDlg dlg;
    Show(dlg);
    QTest::mouseClick(Find<QPushButton>(dlg, "Addbtn"), Qt::LeftButton);
    QCOMPARE(Texts(), QStringList{"Select symbol to add!"});
    QCOMPARE(Find<QLineEdit>(dlg, "Edit1")->text(), "");
    Choose(Find<QRadioButton>(dlg, "RGItem1"));
    QTest::mouseClick(Find<QPushButton>(dlg, "Addbtn"), Qt::LeftButton);
    QCOMPARE(Find<QLineEdit>(dlg, "Edit1")->text(), "[]");  // appended, then refused
    QCOMPARE(Texts().back(), "Empty set in mask picture at position:0!");
    dlg.reject();
  }

  void typingABrokenMask() {
    TEMskDlg dlg;
    Show(dlg);
    Type(Find<QLineEdit>(dlg, "Edit1"), "AB[C");
    QCOMPARE(Texts(), (QStringList{"Missing ] symbol in Mask!", "Missing ] symbol in Mask!"}));
    QTest::keyClicks(Find<QLineEdit>(dlg, "Edit1"), "]#");
    QCOMPARE(Texts().size(), 2);
    QVERIFY(!Find<QPushButton>(dlg, "Testbtn")->isEnabled());  // typing leaves Test alone
    QVERIFY(Find<QLineEdit>(dlg, "svEdit")->isEnabled());
    QCOMPARE(DlgMask->GetSuffix().str(), "C#");
    dlg.reject();
  }

  void eraseAndEscape() {
    TEMskDlg dlg;
    Find<QLineEdit>(dlg, "Edit1")->setText("##");
    Find<QLineEdit>(dlg, "svEdit")->setText("10");
    Show(dlg);
    SvValid = true;
    Choose(Find<QRadioButton>(dlg, "RGItem0"));
    Type(Find<QLineEdit>(dlg, "Edit2"), "kept");
    QTest::mouseClick(Find<QPushButton>(dlg, "Erasebtn"), Qt::LeftButton);
    QCOMPARE(Find<QLineEdit>(dlg, "Edit1")->text(), "");
    QCOMPARE(Find<QLineEdit>(dlg, "svEdit")->text(), "");
    QVERIFY(!SvValid);
    QVERIFY(!Find<QPushButton>(dlg, "Testbtn")->isEnabled());
    QCOMPARE(Find<QLineEdit>(dlg, "Edit2")->text(), "kept");
    QVERIFY(Find<QRadioButton>(dlg, "RGItem0")->isChecked());
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(dlg.isVisible());  // no button answers Esc
    dlg.reject();
  }

  void acceptedValuesOutliveTheDialog() {
    {
      TEMskDlg first;
      Find<QLineEdit>(first, "Edit1")->setText("##");
      Show(first);
      Type(Find<QLineEdit>(first, "svEdit"), "05");
      QTest::mouseClick(Find<QPushButton>(first, "Okbtn"), Qt::LeftButton);
      QVERIFY(SvValid);
    }
    QVERIFY(!DlgMask);  // dropped with its dialog
    TEMskDlg second;
    Find<QLineEdit>(second, "Edit1")->setText("##");
    Find<QLineEdit>(second, "svEdit")->setText("05");
    Show(second);
    QTest::mouseClick(Find<QPushButton>(second, "Testbtn"), Qt::LeftButton);
    QCOMPARE(Find<QLineEdit>(second, "Edit3")->text(), "05");
    QTest::mouseClick(Find<QPushButton>(second, "Endbtn"), Qt::LeftButton);
    second.reject();
  }

  // --- Database setup dialog ----------------------------------------------------------------

  void setupDialogFollowsTheAlias() {
    const auto dir = std::filesystem::path(QDir::tempPath().toStdString()) /
                     ("setupdlg-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "aliases")
        << "Shop = sqlite:shop\nBooks = sqlite:books\nLater = sqlite:later\n";
    qputenv("TGEN_ALIASES", QByteArray::fromStdString((dir / "aliases").string()));
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
    QTest::keyClicks(db->lineEdit(), "Sho");
    QCOMPARE(db->currentText(), "Sho");  // not completed to an alias other than the one listed
    QVERIFY(!tbl->isEnabled());
    QTest::keyClick(db->lineEdit(), Qt::Key_P);
    QCOMPARE(db->currentText(), "Shop");
    QVERIFY(tbl->isEnabled());
    QCOMPARE(tbl->count(), 2);
    QCOMPARE(tbl->itemText(0), "GENTBL.DB");
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
    qunsetenv("TGEN_ALIASES");
    std::filesystem::remove_all(dir);
  }

  // --- About box ----------------------------------------------------------------------------

  void aboutBoxCaptionPictureAndAddresses() {
    QStringList opened;
    SetAddressOpener([&opened](const QUrl& url) {
      opened << url.toString();
      return true;
    });
    TAboutFrm box;
    box.SetComponentName("TGenerator");
    Show(box);
    QCOMPARE(Find<QLabel>(box, "CapLbl")->text(), "About  TGenerator");
    Shoot(box, "aboutbox");
    auto* ok = Find<QLabel>(box, "OkBtn");
    QTest::mousePress(ok, Qt::LeftButton);
    QTest::mouseRelease(ok, Qt::LeftButton, {}, QPoint(100, 100));  // released outside
    QVERIFY(box.isVisible());

    for (const char* name : {"Label8", "Label11", "Label9", "Label10", "Shape5", "CapLbl"}) {
      QTest::mouseClick(Find<QWidget>(box, name), Qt::LeftButton);
    }
    QCOMPARE(opened.size(), 3);
    QVERIFY(opened[0].startsWith("https://"));
    QVERIFY(opened[1].startsWith("mailto:"));
    QVERIFY(box.isVisible());  // addresses leave the box open
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(!box.isVisible());
    SetAddressOpener(nullptr);

    TAboutFrm plain;
    plain.SetComponentName("");
    Show(plain);
    QCOMPARE(Find<QLabel>(plain, "CapLbl")->text(), "About ");
    QVERIFY(!plain.findChild<QTimer*>()->isActive());
    // A click on the bare window closes the box when the button comes up, not before.
    QTest::mousePress(&plain, Qt::LeftButton, {}, QPoint(1, 1));
    QVERIFY(plain.isVisible());
    QTest::mouseRelease(&plain, Qt::LeftButton, {}, QPoint(1, 1));
    QVERIFY(!plain.isVisible());
  }

  void aboutBoxClosesItselfWhenAsked() {
    TAboutFrm box;
    box.AutoClose = true;
    Show(box);
    QTRY_VERIFY_WITH_TIMEOUT(!box.isVisible(), TAboutFrm::kAutoCloseMs + 2000);
    QCOMPARE(box.result(), int(QDialog::Accepted));
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
