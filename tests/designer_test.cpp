// The form designer driven as a person drives it: open a form, place a generator, edit it in
// the inspector and through its dialogs, save, reopen, draw keys, close.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "core/generator.h"
#include "platform/base/exception.h"
#include "platform/base/notice.h"
#include "platform/base/process_testing.h"
#include "platform/designtime/package.h"
#include "platform/store/scratch_testing.h"
#include "platform/store/session.h"
#include "tests/modal.h"
#include "tools/designer/designerwindow.h"
#include "tools/designer/formcanvas.h"
#include "tools/designer/inspector.h"

namespace tgen {

namespace {

using testing::Click;
using testing::ReadFile;
using testing::WhenModal;

void CancelMaskDialog(QDialog& dlg) {
  Click(dlg, "Cancelbtn");
}

}  // namespace

class DesignerTest : public QObject {
  Q_OBJECT

 private:
  std::shared_ptr<RecordingNoticeSink> notices_ = std::make_shared<RecordingNoticeSink>();
  std::unique_ptr<ScopedNoticeSink> guard_;
  testing::ScratchFolder dir_{"designer", "Shop = sqlite:shop\n"};
  std::unique_ptr<TDesignerWindow> window_;
  QMessageBox::StandardButton answer_ = QMessageBox::Cancel;
  int asked_ = 0;
  QString save_as_;

  [[nodiscard]] std::filesystem::path File(const std::string& name) const { return dir_ / name; }
  [[nodiscard]] static QString Q(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
  }
  TDesignerWindow& W() { return *window_; }
  TComponent& Open(const std::string& name) {
    const bool opened = W().OpenForm(Q(File(name)));
    const auto said = notices_->Texts();
    [&] { QVERIFY2(opened, said.empty() ? "" : said.back().c_str()); }();
    return W().Root();
  }
  QPoint CenterOf(const TComponent& c) const { return window_->Canvas().BoxRect(c).center(); }

 private slots:
  void initTestCase() {
    CreateGeneratorTable("Shop", "GENTBL.DB");
    std::ofstream(dir_ / "orders.frm") << "object Orders: TDataModule\n"
                                          "  object Invoices: TGenerator\n"
                                          "    Mask = 'INV-[AB]###'\n"
                                          "    Left = 16\n"
                                          "    Top = 24\n"
                                          "    DataBaseName = 'Shop'\n"
                                          "    TableName = 'GENTBL.DB'\n"
                                          "  end\n"
                                          "end\n";
    guard_ = std::make_unique<ScopedNoticeSink>(notices_);
  }

  void init() {
    notices_->Clear();
    asked_ = 0;
    window_ = std::make_unique<TDesignerWindow>();
    W().SetPrompts({[this](QWidget*, const QString&) {
                      ++asked_;
                      return answer_;
                    },
                    [this](QWidget*, bool, const QString&) { return save_as_; }});
    W().LoadPackage(TGEN_PACKAGE_PATH);
    W().show();
    QVERIFY(QTest::qWaitForWindowExposed(&W()));
  }

  void cleanup() {
    window_.reset();
    QVERIFY(QApplication::topLevelWidgets().isEmpty() ||
            std::none_of(QApplication::topLevelWidgets().begin(),
                         QApplication::topLevelWidgets().end(),
                         [](QWidget* w) { return w->isVisible(); }));
  }

  void startsWithAnEmptyFormAndThePackagesPalette() {
    QCOMPARE(W().Root().ComponentCount(), 0);
    QVERIFY(W().Root().Designing());
    auto* palette = W().findChild<QTabWidget*>("Palette");
    QCOMPARE(palette->tabText(0), "ZOR");
    QVERIFY(palette->findChild<QToolButton*>("TGenerator") != nullptr);

    // The same package once more, under its own path or through a link: refused, and the
    // loaded one keeps working.
    const auto link = File("again.so");
    std::filesystem::remove(link);
    std::filesystem::create_symlink(TGEN_PACKAGE_PATH, link);
    for (const std::filesystem::path& again : {std::filesystem::path(TGEN_PACKAGE_PATH), link}) {
      QVERIFY_THROWS_EXCEPTION(Exception, W().LoadPackage(again));
    }
    QCOMPARE(W().Packages().size(), size_t{1});
    QCOMPARE(palette->count(), 1);
    QVERIFY(TDesignRegistry::Global().Palette().size() == 1);
  }

  void composesAFormAndGetsTheSameTextBack() {
    TComponent& root = Open("orders.frm");
    QCOMPARE(root.Name(), "Orders");
    TComponent* invoices = root.FindComponent("Invoices");
    QVERIFY(invoices != nullptr && invoices->Designing());
    QCOMPARE(W().Canvas().ComponentAt(CenterOf(*invoices)), invoices);

    // Place a generator: the palette, then the form.
    QTest::mouseClick(W().findChild<QToolButton*>("TGenerator"), Qt::LeftButton);
    QCOMPARE(W().ChosenClass(), "TGenerator");
    QTest::mouseClick(&W().Canvas(), Qt::LeftButton, {}, QPoint(101, 62));
    QCOMPARE(root.ComponentCount(), 2);
    TComponent& placed = W().Selected();
    QCOMPARE(placed.Name(), "Generator1");
    QCOMPARE(placed.Left(), 104);  // on the grid
    QVERIFY(W().IsModified());

    // The mask through its dialog, from the inspector's button.
    QCOMPARE(W().Inspector().Component(), &placed);
    WhenModal([](QDialog& dlg) {
      dlg.findChild<QLineEdit*>("Edit1")->setText("ORD-&&&&");
      dlg.findChild<QLineEdit*>("svEdit")->setText("0100");
      Click(dlg, "Okbtn");
    });
    QTest::mouseClick(W().Inspector().findChild<QToolButton*>("MaskButton"), Qt::LeftButton);
    QCOMPARE(W().Inspector().ShownValue("Mask"), "ORD-&&&&");
    QCOMPARE(W().Inspector().ShownValue("StartValue"), "0100");

    // Typed values: a good one is taken, a bad one reported and undone; Tag is read-only.
    auto* type = W().Inspector().findChild<QLineEdit*>("GeneratorType");
    for (const auto& [typed, shown] : {std::pair{"2", "2"}, std::pair{"two", "2"}}) {
      type->setText(typed);
      QMetaObject::invokeMethod(type, "editingFinished");
      QCOMPARE(type->text(), shown);
    }
    QCOMPARE(notices_->Texts().back(), "'two' is not a valid integer value");
    // An enumeration offers its values only.
    auto* lock = W().Inspector().findChild<QComboBox*>("LockMode");
    QVERIFY(lock != nullptr && !lock->isEditable());
    lock->setCurrentIndex(1);
    emit lock->textActivated(lock->currentText());
    QCOMPARE(dynamic_cast<TGenerator&>(placed).LockMode(), TLockMode::lmTransaction);
    QVERIFY(W().Inspector().findChild<QLineEdit*>("Tag") == nullptr);

    // Moving it by dragging.
    QTest::mousePress(&W().Canvas(), Qt::LeftButton, {}, CenterOf(placed));
    QTest::mouseMove(&W().Canvas(), CenterOf(placed) + QPoint(40, 16));
    QTest::mouseRelease(&W().Canvas(), Qt::LeftButton, {}, CenterOf(placed));
    QCOMPARE(placed.Left(), 144);
    QCOMPARE(placed.Top(), 80);

    testing::Shoot(W(), "designer");

    QVERIFY(W().SaveAs(Q(File("composed.frm"))));
    QVERIFY(!W().IsModified());
    const std::string first = ReadFile(File("composed.frm"));
    QVERIFY(first.find("Mask = 'ORD-&&&&'") != std::string::npos);

    Open("composed.frm");
    QCOMPARE(W().Root().ComponentCount(), 2);
    QVERIFY(W().SaveAs(Q(File("again.frm"))));
    QCOMPARE(ReadFile(File("again.frm")), first);
    QCOMPARE(asked_, 0);  // nothing was unsaved when the form was replaced
  }

  void verbsComeFromTheComponentEditor() {
    TComponent& g = *Open("orders.frm").FindComponent("Invoices");
    const auto menu = W().ContextMenu(g);
    QStringList texts;
    for (QAction* a : menu->actions())
      texts << a->text();
    QCOMPARE(texts, (QStringList{"Edit &Mask", "Setup  &DB", "A&bout", "", "&Delete"}));

    // Verb 0 and the double-click both open the mask dialog; a cancelled one still marks.
    WhenModal(CancelMaskDialog);
    menu->actions()[0]->trigger();
    QVERIFY(W().IsModified());
    QVERIFY(W().SaveAs(Q(File("saved.frm"))));
    WhenModal(CancelMaskDialog);
    QTest::mouseDClick(&W().Canvas(), Qt::LeftButton, {}, CenterOf(g));
    QVERIFY(W().IsModified());

    // Verb 1 picks the table: the dialog opens on the component's alias and table, and what it
    // confirms is stored (an empty table box too); a cancel stores nothing.
    auto& generator = dynamic_cast<TGenerator&>(g);
    WhenModal([](QDialog& dlg) {
      QCOMPARE(dlg.findChild<QComboBox*>("DBName")->currentText(), "Shop");
      QCOMPARE(dlg.findChild<QComboBox*>("TblName")->currentText(), "GENTBL.DB");
      dlg.findChild<QComboBox*>("TblName")->setEditText("");
      Click(dlg, "BitBtn1");
    });
    menu->actions()[1]->trigger();
    QCOMPARE(generator.TableName(), "");
    generator.SetDataBaseName("Gone");
    WhenModal([](QDialog& dlg) { Click(dlg, "BitBtn2"); });
    menu->actions()[1]->trigger();
    QCOMPARE(generator.DataBaseName(), "Gone");

    W().Select(&g);
    W().DeleteSelected();
    QCOMPARE(W().Root().ComponentCount(), 0);
    QCOMPARE(&W().Selected(), &W().Root());
  }

  void drawsAndUndoesKeysWithTheSelectedGenerator() {
    auto* draw = W().findChild<QAction*>("DrawKey");
    auto* undo = W().findChild<QAction*>("UndoKey");
    QVERIFY(!draw->isEnabled());  // the form itself is selected
    TComponent& g = *Open("orders.frm").FindComponent("Invoices");
    W().Select(&g);
    QVERIFY(draw->isEnabled());
    draw->trigger();
    draw->trigger();
    undo->trigger();
    const QStringList lines = W().Log().split('\n');
    QCOMPARE(lines.size(), 3);
    // Whatever an earlier test drew, the keys follow each other and the undo gives one back.
    const QString first = lines[0].section(": ", 1);
    QVERIFY2(lines[0].startsWith("Invoices: INV-A"), qPrintable(lines[0]));
    QCOMPARE(lines[2], "Invoices: undone, back to " + first);

    // A generator whose table cannot be opened says so instead of drawing.
    auto& other = dynamic_cast<TGenerator&>(W().Drop("TGenerator", QPoint(64, 64)));
    other.SetMask("X#");
    other.SetDataBaseName("Gone");
    draw->trigger();
    QVERIFY2(W().Log().endsWith("Generator1: disabled (check its alias, its table, and that its "
                                "start value is lower than its end value)"),
             qPrintable(W().Log()));
    QVERIFY(!notices_->Texts().empty());  // InitDB told why
    answer_ = QMessageBox::Discard;
  }
};

}  // namespace tgen

QTEST_MAIN(tgen::DesignerTest)
#include "designer_test.moc"
