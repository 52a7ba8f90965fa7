// The generator's registration, editors and verbs, with its dialogs answered as a user would.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "design/gendlg.h"
#include "design/gensrc.h"
#include "platform/base/convert.h"
#include "platform/base/notice.h"
#include "platform/designtime/package.h"
#include "platform/model/datamodule.h"
#include "platform/store/scratch_testing.h"
#include "platform/store/session.h"
#include "tests/modal.h"

namespace tgen {

using testing::Click;
using testing::WhenModal;

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
  testing::ScratchFolder dir_{"package", "Shop = sqlite:shop\n"};

  static const TPropInfo& Prop(const TComponent& c, const char* name) {
    return *c.Properties().Find(name);
  }

 private slots:
  void initTestCase() {
    CreateGeneratorTable("Shop", "GENTBL.DB");
    TDesignRegistry::Global().Clear();
    Register();
    guard_ = std::make_unique<ScopedNoticeSink>(notices_);
  }
  void cleanupTestCase() { guard_.reset(); }

  void registryOffersTheEditors() {
    TDataModule form;
    form.SetDesigning(true);
    CountingDesigner designer;
    auto& registry = TDesignRegistry::Global();
    // A descendant that publishes the names as text gets the lists of aliases and tables.
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
    editor.ExecuteVerb(7);  // no such verb
    QCOMPARE(designer.modified, 2);
  }

  void eventEditorListsTheHandlersThatFit() {
    TDataModule form;
    form.PublishMethod("FormGetPrefixes", TGenProcEvent([](TObject*, TmString&) {}));
    form.PublishMethod("FormOverFlow", TGOverFlowEvent([](TObject*, TmString) {}));
    auto* g = new TGenerator(&form);
    CountingDesigner designer;
    auto& registry = TDesignRegistry::Global();
    QStringList handlers;
    auto editor = registry.PropertyEditor(&designer, *g, Prop(*g, "GetUserPrefixes"));
    editor->GetValues([&](const std::string& n) { handlers << QString::fromStdString(n); });
    QCOMPARE(handlers, QStringList{"FormGetPrefixes"});
    editor->SetValue("FormGetPrefixes");
    QCOMPARE(editor->GetValue(), "FormGetPrefixes");
    QCOMPARE(designer.modified, 1);
  }

  // Kept last: it unloads what the package registered.
  void packageStartsAndStopsItsUnitsInOrder() {
    auto& registry = TDesignRegistry::Global();
    registry.Clear();
    TClassRegistry::Global().Unregister("TGenerator");
    SvValid = true;  // as a dialog of an earlier load left it

    QStringList trace;
    auto package = TPackage::Load(TGEN_PACKAGE_PATH, [&](std::string_view unit, bool starting) {
      trace << (starting ? "+" : "-") + QString::fromUtf8(unit.data(), unit.size());
    });
    QCOMPARE(trace, (QStringList{"+Gendlg", "+Setupdlg", "+uAbt", "+Gensrc"}));
    QVERIFY(!SvValid);
    QVERIFY(registry.Palette().empty());  // nothing until the designer asks it to register
    package->Register();
    package->Register();  // once only
    QCOMPARE(registry.Palette().size(), size_t{1});

    trace.clear();
    package.reset();
    QCOMPARE(trace, (QStringList{"-Gensrc", "-uAbt", "-Setupdlg", "-Gendlg"}));
    QVERIFY(registry.Palette().empty());
    QVERIFY(!TClassRegistry::Global().Contains("TGenerator"));
  }

  void somethingElseIsNoPackage_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("missing") << QString::fromStdString((dir_ / "nothing.so").string());
    QTest::newRow("not a module") << QString::fromStdString((dir_ / "aliases").string());
    QTest::newRow("a library without the table") << QStringLiteral(TGEN_CORE_PATH);
  }
  void somethingElseIsNoPackage() {
    QFETCH(QString, path);
    try {
      TPackage::Load(path.toStdString());
      QFAIL("loaded");
    } catch (const Exception& e) {
      QVERIFY2(QString::fromStdString(e.Message()).contains(path), e.what());
    }
    QVERIFY(TDesignRegistry::Global().Palette().empty());
  }
};

}  // namespace tgen

QTEST_MAIN(tgen::PackageTest)
#include "package_test.moc"
