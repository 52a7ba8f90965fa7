#include "design/setupdlg.h"

#include <QKeyEvent>
#include <QLineEdit>

#include "design/qtnotice.h"
#include "design/resources.h"
#include "platform/session.h"
#include "ui_tdbsetupdlg.h"

namespace tgen {

TDBSetupDlg::TDBSetupDlg(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TDBSetupDlg>()) {
  InitDesignResources();
  ui_->setupUi(this);
  setFixedSize(size());
  // A fixed dialog frame with no system menu and no close box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);
  // Only the user's changes: typing, or a pick from the list.
  connect(ui_->DBName->lineEdit(), &QLineEdit::textEdited, this, &TDBSetupDlg::DBNameChange);
  connect(ui_->DBName, &QComboBox::textActivated, this, &TDBSetupDlg::DBNameChange);
  connect(ui_->BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

TDBSetupDlg::~TDBSetupDlg() = default;

void TDBSetupDlg::DBNameChange() {
  ui_->TblName->clear();
  ui_->TblName->setEditText(QString());
  try {
    for (const std::string& table :
         TSession::Default().GetTableNames(ToBytes(ui_->DBName->currentText()))) {
      ui_->TblName->addItem(FromBytes(table));
    }
    ui_->TblName->setEditText(QString());
    ui_->TblName->setEnabled(true);
  } catch (const std::exception&) {
    ui_->TblName->setEnabled(false);
  }
}

void TDBSetupDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) return;  // Esc does not close the dialog
  QDialog::keyPressEvent(event);
}

}  // namespace tgen
