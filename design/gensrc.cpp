#include "design/gensrc.h"

#include <QComboBox>
#include <QLineEdit>

#include "design/gendlg.h"
#include "design/qtnotice.h"
#include "design/setupdlg.h"
#include "design/uabt.h"
#include "platform/store/session.h"

namespace tgen {

namespace {

TGenerator& Edited(const TPropertyEditor& editor) {
  return dynamic_cast<TGenerator&>(editor.GetComponent(0));
}

// The scratch list of a generator made at design time, or one of the editor's own.
TStringList& Scratch(TStringList* list, TStringList& fallback) {
  TStringList& names = list != nullptr ? *list : fallback;
  names.clear();
  return names;
}

}  // namespace

void CallEditDlg(TGenerator& Generator) {
  TEMskDlg dlg;
  dlg.Edit1().setText(FromBytes(Generator.Mask()));
  dlg.svEdit().setText(FromBytes(Generator.StartValue().view()));
  dlg.evEdit().setText(FromBytes(Generator.EndValue().view()));
  dlg.SetTryOut(Generator.PeriodFormat(), Generator.FiscalYearStart(), Generator.CheckMethod());
  if (dlg.exec() != QDialog::Accepted) return;
  Generator.SetMask(ToBytes(dlg.Edit1().text()));
  Generator.SetStartValue(ToBytes(dlg.svEdit().text()));
  Generator.SetEndValue(ToBytes(dlg.evEdit().text()));
}

void CallSetupDlg(TGenerator& Generator) {
  TDBSetupDlg dlg;
  for (const std::string& alias : TSession::Default().GetAliasNames())
    dlg.DBName().addItem(FromBytes(alias));
  dlg.DBName().setCurrentIndex(-1);
  if (!Generator.DataBaseName().empty()) {
    dlg.Preselect(FromBytes(Generator.DataBaseName()), FromBytes(Generator.TableName()));
  }
  if (dlg.exec() != QDialog::Accepted) return;
  Generator.SetDataBaseName(ToBytes(dlg.DBName().currentText()));
  Generator.SetTableName(ToBytes(dlg.TblName().currentText()));
}

void TMaskPropertyEditor::Edit() {
  CallEditDlg(Edited(*this));
}

void TDBNamesPropertyEditor::GetValues(const std::function<void(const std::string&)>& Proc) {
  TStringList own;
  TStringList& names = Scratch(Edited(*this).AliasNames(), own);
  names = TSession::Default().GetAliasNames();
  for (const std::string& n : names)
    Proc(n);
}

void TTblNamesPropertyEditor::GetValues(const std::function<void(const std::string&)>& Proc) {
  TGenerator& g = Edited(*this);
  TStringList own;
  TStringList& names = Scratch(g.TableNames(), own);
  if (g.DataBaseName().empty()) {
    Proc("");
    return;
  }
  names = TSession::Default().GetTableNames(g.DataBaseName());
  for (const std::string& n : names)
    Proc(n);
}

std::string TGComponentEditor::GetVerb(int Index) {
  switch (Index) {
    case 0:
      return "Edit &Mask";
    case 1:
      return "Setup  &DB";
    case 2:
      return "A&bout";
    default:
      return {};
  }
}

void TGComponentEditor::ExecuteVerb(int Index) {
  auto& g = dynamic_cast<TGenerator&>(Component());
  switch (Index) {
    case 0:
      CallEditDlg(g);
      break;
    case 1:
      CallSetupDlg(g);
      break;
    case 2:
      ShowAboutBox("TGenerator", false);
      return;
    default:
      return;
  }
  // Whatever the dialog's result.
  if (Designer() != nullptr) Designer()->Modified();
}

void Register() {
  auto& registry = TDesignRegistry::Global();
  registry.RegisterPropertyEditor<TGenerator>(
      "string", "Mask", [](TFormDesigner* d, TComponent& c, const TPropInfo& p) {
        return std::make_unique<TMaskPropertyEditor>(d, c, p);
      });
  registry.RegisterPropertyEditor<TGenerator>(
      "string", "tDataBaseName", [](TFormDesigner* d, TComponent& c, const TPropInfo& p) {
        return std::make_unique<TDBNamesPropertyEditor>(d, c, p);
      });
  registry.RegisterPropertyEditor<TGenerator>(
      "string", "tTableName", [](TFormDesigner* d, TComponent& c, const TPropInfo& p) {
        return std::make_unique<TTblNamesPropertyEditor>(d, c, p);
      });
  registry.RegisterComponents<TGenerator>("ZOR");
  registry.RegisterComponentEditor<TGenerator>(
      [](TComponent& c, TFormDesigner* d) { return std::make_unique<TGComponentEditor>(c, d); });
}

}  // namespace tgen
