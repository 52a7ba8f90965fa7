// The form designer's main window: the palette of the loaded packages' components, the form
// being designed, the inspector of the selected component and a log of the keys drawn, with
// the commands to make, open and save stored forms.
//
// The window is the designer its editors talk to (TFormDesigner): an editor that changed the
// form says so and the window marks the form modified, and asks before a modified form is
// closed or replaced. It owns the form and the packages; the form goes before the packages,
// whose code it runs. Questions and file names come through Prompts, which tests replace.
#pragma once

#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/designtime/designintf.h"

class QAction;
class QMenu;
class QPlainTextEdit;
class QTabWidget;

namespace tgen {

class TComponent;
class TFormCanvas;
class TGenerator;
class TInspector;
class TPackage;

class TDesignerWindow : public QMainWindow, public TFormDesigner {
  Q_OBJECT

 public:
  struct Prompts {
    // The form has unsaved changes: Save, Discard or Cancel.
    std::function<QMessageBox::StandardButton(QWidget* parent, const QString& form)> AskSave;
    // A file to open (save false) or to save under (save true); empty when cancelled.
    std::function<QString(QWidget* parent, bool save, const QString& current)> FileName;
  };

  explicit TDesignerWindow(QWidget* parent = nullptr);
  ~TDesignerWindow() override;
  TDesignerWindow(const TDesignerWindow&) = delete;
  TDesignerWindow& operator=(const TDesignerWindow&) = delete;

  void SetPrompts(Prompts prompts) { prompts_ = std::move(prompts); }

  // Loads a design-time package, runs its registration and shows its palette pages. Throws
  // Exception when the module cannot be loaded or started, or is loaded already.
  void LoadPackage(const std::filesystem::path& path);
  [[nodiscard]] const std::vector<std::unique_ptr<TPackage>>& Packages() const { return packages_; }

  // The file commands. Each returns false when the user cancelled or it failed; a failure is
  // reported and leaves the current form as it was. New and Open ask about unsaved changes.
  bool NewForm();
  bool OpenForm(const QString& path);
  bool Save();
  bool SaveAs(const QString& path);

  [[nodiscard]] TComponent& Root() const { return *root_; }
  [[nodiscard]] const QString& FileName() const { return file_; }
  [[nodiscard]] bool IsModified() const { return modified_; }
  // The selected component; the form's root when nothing on it is selected.
  [[nodiscard]] TComponent& Selected() const;
  void Select(TComponent* component);

  // The palette: the next click on the form drops a component of this class ("" for none).
  void ChooseClass(const QString& class_name);
  [[nodiscard]] const QString& ChosenClass() const { return chosen_; }
  // Makes a component of that class on the form at `pos`, named after its class, designing,
  // and selects it. Throws Exception for a class that no package registered.
  TComponent& Drop(const QString& class_name, QPoint pos);
  // The context menu of a component: its editor's verbs, then Delete.
  std::unique_ptr<QMenu> ContextMenu(TComponent& component);
  // A double-click: the component editor's Edit (its first verb).
  void EditComponent(TComponent& component);
  void DeleteSelected();
  // Draws a key with the selected generator, opening its table first, and logs it.
  void DrawKey();
  // Hands the selected generator's last key back, and logs what it gives.
  void UndoKey();

  [[nodiscard]] TInspector& Inspector() const { return *inspector_; }
  [[nodiscard]] TFormCanvas& Canvas() const { return *canvas_; }
  [[nodiscard]] QString Log() const;

  void Modified() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildActions();
  void BuildPalette();
  // Asks what to do with unsaved changes; true when the form may go.
  bool ConfirmDiscard();
  // Opens a form without asking first.
  bool ReadForm(const QString& path);
  void SetForm(std::unique_ptr<TComponent> root, const QString& file);
  [[nodiscard]] QPixmap Picture(const QString& class_name) const;
  [[nodiscard]] std::string UniqueName(const QString& class_name) const;
  [[nodiscard]] TGenerator* SelectedGenerator() const;
  void AppendLog(const QString& line);
  void UpdateState();

  Prompts prompts_;
  // Declared first, destroyed last: the form runs the packages' code.
  std::vector<std::unique_ptr<TPackage>> packages_;
  std::unique_ptr<TComponent> root_;
  TComponent* selected_ = nullptr;
  QString file_;
  QString chosen_;
  bool modified_ = false;

  TFormCanvas* canvas_ = nullptr;
  TInspector* inspector_ = nullptr;
  QTabWidget* palette_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
  QAction* delete_ = nullptr;
  QAction* draw_ = nullptr;
  QAction* undo_ = nullptr;
  QLineEdit* proc_text_ = nullptr;  // the text of the '@' places for trial draws
  QLineEdit* draw_date_ = nullptr;  // the date of trial draws, YYYY-MM-DD; empty: today
};

// Where the designer looks for packages when none is named: TGEN_PACKAGES (a list separated
// by ":"), else the package installed beside the program, else the one of the build tree.
std::vector<std::filesystem::path> DefaultPackages(const std::filesystem::path& program_dir);

}  // namespace tgen
