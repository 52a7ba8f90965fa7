// The object inspector: the published properties of the selected component, each edited
// through the property editor that the registry gives for it.
//
// A value list becomes a drop-down (still open to typing for text), a dialog editor a text
// box with a "..." button that runs its Edit, a read-only property a greyed text, anything
// else a text box. A typed value is applied when the box is left or Enter is pressed; one
// the property refuses is reported and the shown value goes back. The inspector does not own
// the component; SetComponent(nullptr) before the component goes.
#pragma once

#include <QTableWidget>
#include <memory>
#include <vector>

class QComboBox;
class QLineEdit;

namespace tgen {

class TComponent;
class TFormDesigner;
class TPropertyEditor;
struct TPropInfo;

class TInspector : public QTableWidget {
  Q_OBJECT

 public:
  explicit TInspector(TFormDesigner& designer, QWidget* parent = nullptr);
  ~TInspector() override;
  TInspector(const TInspector&) = delete;
  TInspector& operator=(const TInspector&) = delete;

  // Lists the properties of `component` (null: an empty list).
  void SetComponent(TComponent* component);
  [[nodiscard]] TComponent* Component() const { return component_; }
  // Shows the current values again (after something else changed them).
  void Refresh();
  // The row of a property, or -1.
  [[nodiscard]] int RowOf(const QString& property) const;
  // The value shown for a property.
  [[nodiscard]] QString ShownValue(const QString& property) const;

 private:
  struct Row {
    const TPropInfo* Property = nullptr;
    std::unique_ptr<TPropertyEditor> Editor;
    QLineEdit* Line = nullptr;   // a text box, or the drop-down's own
    QComboBox* Combo = nullptr;  // for a value list
  };
  void AddRow(const TPropInfo& property);
  // Applies the text typed for row `index`.
  void Commit(std::size_t index);
  // Runs the dialog editor of row `index`.
  void RunDialog(std::size_t index);
  void ShowValue(Row& row);

  TFormDesigner& designer_;
  TComponent* component_ = nullptr;
  std::vector<Row> rows_;
  bool committing_ = false;
};

}  // namespace tgen
