#include "design/setupdlg.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>

#include "design/qtnotice.h"
#include "design/resources.h"
#include "platform/store/session.h"
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
  // The OK picture is a strip of two: the normal tick and the greyed one.
  const QPixmap strip(":/tgenerator/tick.xpm");
  const int half = strip.width() / 2;
  QIcon tick;
  tick.addPixmap(strip.copy(0, 0, half, strip.height()), QIcon::Normal);
  tick.addPixmap(strip.copy(half, 0, half, strip.height()), QIcon::Disabled);
  ui_->BitBtn1->setIcon(tick);
  // Each character typed lists the tables of the text as it stands: no completion that would
  // show another alias than the one listed.
  ui_->DBName->setCompleter(nullptr);
  // Only the user's changes: typing, or a pick from the list, which always runs the change. An
  // editable box also reports Return as a pick of its text; that confirms the dialog and must
  // not empty the table box.
  connect(ui_->DBName->lineEdit(), &QLineEdit::textEdited, this, &TDBSetupDlg::DBNameChange);
  connect(ui_->DBName, &QComboBox::textActivated, this, [this] {
    if (!returning_) DBNameChange();
  });
  ui_->DBName->lineEdit()->installEventFilter(this);
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

QComboBox& TDBSetupDlg::DBName() const {
  return *ui_->DBName;
}

QComboBox& TDBSetupDlg::TblName() const {
  return *ui_->TblName;
}

void TDBSetupDlg::Preselect(const QString& alias, const QString& table) {
  ui_->DBName->setEditText(alias);
  DBNameChange();
  if (ui_->TblName->isEnabled()) {
    ui_->TblName->setEditText(table);
  } else {  // an alias that cannot be listed is not offered; the user may type another
    ui_->DBName->setEditText(QString());
    ui_->TblName->setEnabled(true);
  }
}

bool TDBSetupDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = dynamic_cast<QKeyEvent*>(event)->key();
    returning_ = key == Qt::Key_Return || key == Qt::Key_Enter;
  } else if (event->type() == QEvent::KeyRelease) {
    returning_ = false;
  }
  return QDialog::eventFilter(watched, event);
}

void TDBSetupDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) return;  // Esc does not close the dialog
  QDialog::keyPressEvent(event);
}

}  // namespace tgen
