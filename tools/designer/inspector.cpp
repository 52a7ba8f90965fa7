#include "tools/designer/inspector.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QToolButton>

#include "design/qtnotice.h"
#include "platform/base/notice.h"
#include "platform/designtime/designintf.h"
#include "platform/model/component.h"

namespace tgen {

namespace {

// Every published value of a component, to tell whether a dialog changed any.
std::vector<TPropValue> Snapshot(const TComponent& component) {
  std::vector<TPropValue> values;
  for (const TPropInfo& p : component.Properties())
    values.push_back(p.Get(component));
  return values;
}

}  // namespace

TInspector::TInspector(TFormDesigner& designer, QWidget* parent)
    : QTableWidget(0, 2, parent), designer_(designer) {
  setObjectName(QStringLiteral("Inspector"));
  setHorizontalHeaderLabels({tr("Property"), tr("Value")});
  horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  horizontalHeader()->setStretchLastSection(true);
  verticalHeader()->hide();
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
}

TInspector::~TInspector() = default;

void TInspector::SetComponent(TComponent* component) {
  // A value still being typed belongs to the component it was typed for.
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].Line != nullptr && rows_[i].Line->isModified()) Commit(i);
  }
  // The widgets refer to the rows' editors: detach and drop them first.
  for (Row& row : rows_) {
    if (row.Line != nullptr) row.Line->disconnect(this);
    if (row.Combo != nullptr) row.Combo->disconnect(this);
  }
  setRowCount(0);
  rows_.clear();
  component_ = component;
  if (component == nullptr) return;
  rows_.reserve(component->Properties().size());
  for (const TPropInfo& p : component->Properties())
    AddRow(p);
}

void TInspector::AddRow(const TPropInfo& property) {
  const int r = rowCount();
  const std::size_t index = rows_.size();
  insertRow(r);
  auto* name = new QTableWidgetItem(FromBytes(property.Name));
  setItem(r, 0, name);

  Row row;
  row.Property = &property;
  row.Editor = TDesignRegistry::Global().PropertyEditor(&designer_, *component_, property);
  const unsigned attributes = row.Editor->GetAttributes();
  const QString object = FromBytes(property.Name);

  if (property.ReadOnly()) {
    auto* value = new QTableWidgetItem(FromBytes(row.Editor->GetValue()));
    value->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
    value->setToolTip(tr("read-only"));
    setItem(r, 1, value);
  } else if ((attributes & paValueList) != 0) {
    row.Combo = new QComboBox;
    row.Combo->setObjectName(object);
    row.Combo->setEditable(property.Kind != TTypeKind::tkMethod &&
                           property.Kind != TTypeKind::tkEnumeration);
    if (property.Kind == TTypeKind::tkMethod) row.Combo->addItem(QString());
    row.Editor->GetValues([&row](const std::string& v) { row.Combo->addItem(FromBytes(v)); });
    row.Line = row.Combo->lineEdit();
    connect(row.Combo, &QComboBox::textActivated, this, [this, index] { Commit(index); });
    if (row.Line != nullptr) {
      connect(row.Line, &QLineEdit::editingFinished, this, [this, index] { Commit(index); });
    }
    setCellWidget(r, 1, row.Combo);
  } else if ((attributes & paDialog) != 0) {
    auto* cell = new QWidget;
    auto* layout = new QHBoxLayout(cell);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    row.Line = new QLineEdit;
    row.Line->setObjectName(object);
    auto* button = new QToolButton;
    button->setObjectName(object + QStringLiteral("Button"));
    button->setText(QStringLiteral("..."));
    button->setToolTip(tr("Edit %1").arg(object));
    layout->addWidget(row.Line, 1);
    layout->addWidget(button);
    connect(row.Line, &QLineEdit::editingFinished, this, [this, index] { Commit(index); });
    connect(button, &QToolButton::clicked, this, [this, index] { RunDialog(index); });
    setCellWidget(r, 1, cell);
  } else {
    row.Line = new QLineEdit;
    row.Line->setObjectName(object);
    row.Line->setFrame(false);
    connect(row.Line, &QLineEdit::editingFinished, this, [this, index] { Commit(index); });
    setCellWidget(r, 1, row.Line);
  }
  rows_.push_back(std::move(row));
  ShowValue(rows_.back());
}

void TInspector::ShowValue(Row& row) {
  const QString value = FromBytes(row.Editor->GetValue());
  const int r = static_cast<int>(&row - rows_.data());
  if (row.Combo != nullptr) {
    const QSignalBlocker block(row.Combo);
    if (row.Combo->isEditable()) {
      row.Combo->setEditText(value);
    } else {
      row.Combo->setCurrentIndex(std::max(0, row.Combo->findText(value)));
    }
  } else if (row.Line != nullptr) {
    const QSignalBlocker block(row.Line);
    row.Line->setText(value);
    row.Line->setCursorPosition(0);
  } else if (QTableWidgetItem* item = this->item(r, 1)) {
    item->setText(value);
  }
}

void TInspector::Refresh() {
  for (Row& row : rows_)
    ShowValue(row);
}

void TInspector::Commit(std::size_t index) {
  // A message box takes the focus, which would finish the edit a second time.
  if (index >= rows_.size() || committing_) return;
  const QScopedValueRollback guard(committing_, true);
  Row& row = rows_[index];
  const std::string typed =
      ToBytes(row.Line != nullptr ? row.Line->text() : row.Combo->currentText());
  if (typed == row.Editor->GetValue()) return;
  try {
    row.Editor->SetValue(typed);  // tells the designer
  } catch (const std::exception& e) {
    MessageBox(e.what(), "Invalid property value", MB_ICONSTOP);
  }
  Refresh();
}

void TInspector::RunDialog(std::size_t index) {
  if (index >= rows_.size() || component_ == nullptr) return;
  const auto before = Snapshot(*component_);
  try {
    rows_[index].Editor->Edit();
  } catch (const std::exception& e) {
    MessageBox(e.what(), "Invalid property value", MB_ICONSTOP);
  }
  // The dialog sets values through the component; the form changed if any of them did.
  if (Snapshot(*component_) != before) designer_.Modified();
  Refresh();
}

int TInspector::RowOf(const QString& property) const {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (FromBytes(rows_[i].Property->Name) == property) return static_cast<int>(i);
  }
  return -1;
}

QString TInspector::ShownValue(const QString& property) const {
  const int r = RowOf(property);
  if (r < 0) return {};
  const Row& row = rows_[static_cast<std::size_t>(r)];
  if (row.Combo != nullptr) return row.Combo->currentText();
  if (row.Line != nullptr) return row.Line->text();
  return item(r, 1)->text();
}

}  // namespace tgen
