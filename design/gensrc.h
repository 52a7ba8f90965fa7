// The design-time side of the generator: its registration with a form designer, its
// property editors and component editor, and the routines that run its dialogs.
#pragma once

#include <string>

#include "core/generator.h"
#include "platform/designtime/designintf.h"

namespace tgen {

// Opens the mask edit dialog on the generator's mask and bounds; on OK stores them through
// the generator's setters (mask first). A malformed mask's exception reaches the caller.
void CallEditDlg(TGenerator& Generator);
// Opens the database setup dialog on the generator's alias and table; on OK stores the two
// texts as they stand.
void CallSetupDlg(TGenerator& Generator);

// Mask: a dialog button that opens the mask edit dialog.
class TMaskPropertyEditor : public TStringProperty {
 public:
  using TStringProperty::TStringProperty;
  void Edit() override;
  [[nodiscard]] unsigned GetAttributes() override { return paDialog; }
};

// A list of the session's alias names.
class TDBNamesPropertyEditor : public TStringProperty {
 public:
  using TStringProperty::TStringProperty;
  [[nodiscard]] unsigned GetAttributes() override { return paValueList; }
  void GetValues(const std::function<void(const std::string&)>& Proc) override;
};

// A list of the tables of the generator's alias (one empty entry without an alias).
class TTblNamesPropertyEditor : public TStringProperty {
 public:
  using TStringProperty::TStringProperty;
  [[nodiscard]] unsigned GetAttributes() override { return paValueList; }
  void GetValues(const std::function<void(const std::string&)>& Proc) override;
};

// "Edit &Mask", "Setup  &DB", "A&bout"; the first two mark the form modified.
class TGComponentEditor : public TComponentEditor {
 public:
  using TComponentEditor::TComponentEditor;
  void ExecuteVerb(int Index) override;
  [[nodiscard]] std::string GetVerb(int Index) override;
  [[nodiscard]] int GetVerbCount() override { return 3; }
};

// Registers the generator's editors and puts it on the palette page "ZOR".
void Register();

}  // namespace tgen
