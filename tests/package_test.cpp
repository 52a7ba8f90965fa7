// The generator's registration, editors and verbs, with its dialogs answered as a user would.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "design/gensrc.h"
#include "platform/datamodule.h"
#include "platform/notice.h"
#include "platform/session.h"

namespace tgen {

// A designer that counts the modification notices.
class CountingDesigner final : public TFormDesigner {
 public:
  void Modified() override { ++modified; }
  int modified = 0;
};

// A descendant that publishes the alias and the table as text properties.
class TNamedGenerator : public TGenerator {
 public:
  static constexpr std::string_view StaticClassName = "TNamedGenerator";
  using TGenerator::TGenerator;
  [[nodiscard]] std::string_view ClassName() const override { return StaticClassName; }
  [[nodiscard]] const TPropList& Properties() const override {
    static const TPropList list(
        TGenerator::ClassProperties(),
        {StringProperty<TNamedGenerator>("tDataBaseName", "string", &TGenerator::DataBaseName,
                                         &TGenerator::SetDataBaseName),
         StringProperty<TNamedGenerator>("tTableName", "string", &TGenerator::TableName,
                                         &TGenerator::SetTableName)});
    return list;
  }
};

class PackageTest : public QObject {
  Q_OBJECT

 private:
  std::shared_ptr<RecordingNoticeSink> notices_ = std::make_shared<RecordingNoticeSink>();
  std::unique_ptr<ScopedNoticeSink> guard_;
  std::filesystem::path dir_;

  // Runs `answer` on the modal dialog that the next call opens.
  static void WhenModal(std::function<void(QDialog&)> answer) {
    QTimer::singleShot(0, [answer] {
      auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dlg != nullptr) answer(*dlg);
    });
  }
  static void Click(QDialog& dlg, const char* name) {
    QTest::mouseClick(dlg.findChild<QPushButton*>(name), Qt::LeftButton);
  }
  static const TPropInfo& Prop(const TComponent& c, const char* name) {
    return *c.Properties().Find(name);
  }

 private slots:
  void initTestCase() {
    dir_ = std::filesystem::path(QDir::tempPath().toStdString()) /
           ("package-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(dir_);
    std::ofstream(dir_ / "aliases") << "Shop = sqlite:shop\n";
    qputenv("TGEN_ALIASES", QByteArray::fromStdString((dir_ / "aliases").string()));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((dir_ / "data").string()));
    TSession::Default().CreateGeneratorTable("Shop", "GENTBL.DB");
    TDesignRegistry::Global().Clear();
    Register();
    guard_ = std::make_unique<ScopedNoticeSink>(notices_);
  }
  void cleanupTestCase() {
    guard_.reset();
    std::filesystem::remove_all(dir_);
  }

  void registryOffersTheEditors() {
    const auto palette = TDesignRegistry::Global().Palette();
    QCOMPARE(palette.size(), size_t{1});
    QCOMPARE(palette[0].Page, "ZOR");
    QCOMPARE(palette[0].ClassName, "TGenerator");
    QVERIFY(TClassRegistry::Global().Contains("TGenerator"));

    TDataModule form;
    form.SetDesigning(true);
    auto* g = new TGenerator(&form);
    CountingDesigner designer;
    auto& registry = TDesignRegistry::Global();
    // On a TGenerator only Mask has an editor of its own: a dialog button, no value lists.
    for (const TPropInfo& p : g->Properties()) {
      const unsigned attributes = registry.PropertyEditor(&designer, *g, p)->GetAttributes();
      QCOMPARE(attributes, p.Name == "Mask" ? unsigned{paDialog} : 0U);
    }
    // A descendant that publishes the names gets the lists.
    auto* named = new TNamedGenerator(&form);
    QCOMPARE(
        registry.PropertyEditor(&designer, *named, Prop(*named, "tDataBaseName"))->GetAttributes(),
        unsigned{paValueList});
    QStringList aliases;
    registry.PropertyEditor(&designer, *named, Prop(*named, "tDataBaseName"))
        ->GetValues([&](const std::string& n) { aliases << QString::fromStdString(n); });
    QCOMPARE(aliases, (QStringList{"tGenAlias", "Shop"}));
    QCOMPARE(*named->AliasNames(), (TStringList{"tGenAlias", "Shop"}));

    QStringList tables;
    auto tables_of = [&](const std::string& alias) {
      tables.clear();
      named->SetDataBaseName(alias);
      registry.PropertyEditor(&designer, *named, Prop(*named, "tTableName"))
          ->GetValues([&](const std::string& n) { tables << QString::fromStdString(n); });
      return tables;
    };
    QCOMPARE(tables_of("Shop"), QStringList{"GENTBL.DB"});
    QCOMPARE(tables_of(""), QStringList{""});  // one empty entry without an alias

    auto editor = registry.ComponentEditor(*g, &designer);
    QCOMPARE(editor->GetVerbCount(), 3);
    QCOMPARE(editor->GetVerb(0), "Edit &Mask");
    QCOMPARE(editor->GetVerb(1), "Setup  &DB");
    QCOMPARE(editor->GetVerb(2), "A&bout");
    QCOMPARE(editor->GetVerb(3), "");
    TDataModule other;
    QCOMPARE(registry.ComponentEditor(other, &designer)->GetVerbCount(), 0);
  }

  void doubleClickEditsTheMask() {
    TGenerator g;
    g.SetMask("A#");
    CountingDesigner designer;
    auto editor = TDesignRegistry::Global().ComponentEditor(g, &designer);
    WhenModal([](QDialog& dlg) {
      QCOMPARE(dlg.findChild<QLineEdit*>("Edit1")->text(), "A#");
      dlg.findChild<QLineEdit*>("Edit1")->setText("INV-##");
      dlg.findChild<QLineEdit*>("svEdit")->setText("10");
      dlg.findChild<QLineEdit*>("evEdit")->setText("90");
      Click(dlg, "Okbtn");
    });
    editor->Edit();  // the double-click: verb 0
    QCOMPARE(g.Mask(), "INV-##");
    QCOMPARE(g.StartValue().str(), "10");
    QCOMPARE(g.EndValue().str(), "90");
    QCOMPARE(designer.modified, 1);

    WhenModal([](QDialog& dlg) {
      dlg.findChild<QLineEdit*>("Edit1")->setText("other");
      Click(dlg, "Cancelbtn");
    });
    editor->ExecuteVerb(0);
    QCOMPARE(g.Mask(), "INV-##");  // cancelled: unchanged, but the form is marked
    QCOMPARE(designer.modified, 2);
  }

  void setupVerbFillsAndStoresTheNames() {
    TGenerator g;
    CountingDesigner designer;
    TGComponentEditor editor(g, &designer);

    g.SetDataBaseName("Shop");
    WhenModal([](QDialog& dlg) {
      QCOMPARE(dlg.findChild<QComboBox*>("DBName")->currentText(), "Shop");
      auto* tbl = dlg.findChild<QComboBox*>("TblName");
      QVERIFY(tbl->isEnabled());
      QCOMPARE(tbl->currentText(), "GENTBL.DB");
      tbl->setEditText("");
      Click(dlg, "BitBtn1");
    });
    editor.ExecuteVerb(1);
    QCOMPARE(g.DataBaseName(), "Shop");
    QCOMPARE(g.TableName(), "");  // confirmed with an empty table box
    QCOMPARE(designer.modified, 1);

    g.SetDataBaseName("Gone");  // an alias that no longer exists
    WhenModal([](QDialog& dlg) {
      QCOMPARE(dlg.findChild<QComboBox*>("DBName")->currentText(), "");
      QCOMPARE(dlg.findChild<QComboBox*>("TblName")->currentText(), "");
      QVERIFY(dlg.findChild<QComboBox*>("TblName")->isEnabled());
      Click(dlg, "BitBtn2");
    });
    editor.ExecuteVerb(1);
    QCOMPARE(g.DataBaseName(), "Gone");  // cancelled
    QCOMPARE(designer.modified, 2);

    g.SetDataBaseName("");
    WhenModal([](QDialog& dlg) {
      QVERIFY(!dlg.findChild<QComboBox*>("TblName")->isEnabled());
      Click(dlg, "BitBtn2");
    });
    editor.ExecuteVerb(1);
    QCOMPARE(designer.modified, 3);
    editor.ExecuteVerb(7);  // no such verb
    QCOMPARE(designer.modified, 3);
  }
};

}  // namespace tgen

QTEST_MAIN(tgen::PackageTest)
#include "package_test.moc"
