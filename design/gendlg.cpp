#include "design/gendlg.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFocusEvent>
#include <QKeyEvent>
#include <algorithm>

#include "core/period.h"
#include "design/qtnotice.h"
#include "design/resources.h"
#include "design/units.h"
#include "platform/base/exception.h"
#include "platform/base/notice.h"
#include "ui_temskdlg.h"

namespace tgen {

std::unique_ptr<TGenMask> DlgMask;
bool SvValid = false;
bool EvValid = false;

void GendlgInitialization() {
  InitDesignResources();
  DlgMask.reset();
  SvValid = false;
  EvValid = false;
}

void GendlgFinalization() {
  DlgMask.reset();
}

namespace {

TmString Text(const QLineEdit* edit) {
  return ToBytes(edit->text());
}

// A mask that does not parse is an error: shown as errors are, under the application's name
// with the stop icon.
void ShowMaskError(const Exception& e) {
  MessageBox(e.Message(), ToBytes(QApplication::applicationName()), MB_ICONSTOP);
}

// Runs a handler; a mask that does not parse ends it there, and the user is told.
template <typename Body>
void Guarded(Body body) {
  try {
    body();
  } catch (const Exception& e) {
    ShowMaskError(e);
  }
}

}  // namespace

TEMskDlg::TEMskDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TEMskDlg>()) {
  InitDesignResources();
  ui_->setupUi(this);
  setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);  // a fixed dialog frame
  DlgMask = std::make_unique<TGenMask>();           // FormCreate

  // The result mask is drawn in the button-face colour.
  QPalette palette = ui_->Edit1->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Button));
  ui_->Edit1->setPalette(palette);

  auto* kinds = new QButtonGroup(this);
  const QList<QRadioButton*> items = {ui_->RGItem0, ui_->RGItem1, ui_->RGItem2,
                                      ui_->RGItem3, ui_->RGItem4, ui_->RGItem5};
  for (int i = 0; i < items.size(); ++i)
    kinds->addButton(items[i], i);
  connect(kinds, &QButtonGroup::idClicked, this, &TEMskDlg::RGClick);
  connect(ui_->Addbtn, &QPushButton::clicked, this, &TEMskDlg::AddbtnClick);
  connect(ui_->Erasebtn, &QPushButton::clicked, this, &TEMskDlg::ErasebtnClick);
  connect(ui_->Edit1, &QLineEdit::textEdited, this, &TEMskDlg::Edit1Change);  // typing only
  connect(ui_->Testbtn, &QPushButton::clicked, this, &TEMskDlg::TestbtnClick);
  connect(ui_->Plusbtn, &QPushButton::clicked, this, &TEMskDlg::PlusbtnClick);
  connect(ui_->Minusbtn, &QPushButton::clicked, this, &TEMskDlg::MinusbtnClick);
  connect(ui_->Endbtn, &QPushButton::clicked, this, &TEMskDlg::EndbtnClick);
  connect(ui_->Okbtn, &QPushButton::clicked, this, &TEMskDlg::OkbtnClick);
  connect(ui_->Cancelbtn, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui_->About, &QPushButton::clicked, this, &TEMskDlg::Image1Click);
  ui_->svEdit->installEventFilter(this);
  ui_->evEdit->installEventFilter(this);
  SetClientHeight(kCollapsedHeight);
  ui_->Edit1->setFocus();  // composing starts in the mask box
}

TEMskDlg::~TEMskDlg() {
  DlgMask.reset();
}  // FormDestroy

QLineEdit& TEMskDlg::Edit1() const {
  return *ui_->Edit1;
}

QLineEdit& TEMskDlg::svEdit() const {
  return *ui_->svEdit;
}

QLineEdit& TEMskDlg::evEdit() const {
  return *ui_->evEdit;
}

int TEMskDlg::OuterHeight() const {
  return frameGeometry().height();
}

void TEMskDlg::SetClientHeight(int height) {
  setFixedSize(width(), height);
}

void TEMskDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TEMskDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) return;  // no button answers Esc
  QDialog::keyPressEvent(event);
}

bool TEMskDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    // Leaving the box for another control, not the window losing focus.
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      if (watched == ui_->svEdit) svEditExit();
      if (watched == ui_->evEdit) evEditExit();
    }
  }
  return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Composing

void TEMskDlg::FormShow() {
  const bool has_mask = !ui_->Edit1->text().isEmpty();
  ui_->Testbtn->setEnabled(has_mask);
  if (has_mask) {
    try {
      DlgMask->ScanMask(Text(ui_->Edit1).view());
    } catch (const Exception& e) {
      ShowMaskError(e);
      return;
    }
    if (!ui_->svEdit->text().isEmpty()) DlgMask->SetStartValue(Text(ui_->svEdit));
    if (!ui_->evEdit->text().isEmpty()) DlgMask->SetEndValue(Text(ui_->evEdit));
    ui_->svEdit->setEnabled(ui_->Testbtn->isEnabled());
    ui_->evEdit->setEnabled(ui_->Testbtn->isEnabled());
  }
  SetClientHeight(kCollapsedHeight);
}

void TEMskDlg::RGClick(int index) {
  ui_->Edit2->setReadOnly(index > 1);
  ui_->Label2->setEnabled(index <= 1);
  ui_->Edit2->setEnabled(ui_->Label2->isEnabled());
}

void TEMskDlg::EnableByMask(bool test_button) {
  const bool has_mask = !ui_->Edit1->text().isEmpty();
  if (test_button) ui_->Testbtn->setEnabled(has_mask);
  ui_->svEdit->setEnabled(has_mask);
  ui_->evEdit->setEnabled(has_mask);
}

void TEMskDlg::AddbtnClick() {
  Guarded([this] {
    const QString text = ui_->Edit2->text();
    const QStringList pieces = {text, "[" + text + "]", "@", "#", "$", "&"};
    int chosen = -1;
    const QList<QRadioButton*> items = {ui_->RGItem0, ui_->RGItem1, ui_->RGItem2,
                                        ui_->RGItem3, ui_->RGItem4, ui_->RGItem5};
    for (int i = 0; i < items.size(); ++i) {
      if (items[i]->isChecked()) chosen = i;
    }
    if (chosen < 0) {
      ShowMessage("Select symbol to add!");
    } else {
      ui_->Edit1->setText(ui_->Edit1->text() + pieces[chosen]);
      DlgMask->ScanMask(Text(ui_->Edit1).view());
    }
    EnableByMask(true);
  });
}

void TEMskDlg::ErasebtnClick() {
  ui_->Edit1->clear();
  ui_->svEdit->clear();
  SvValid = false;
  ui_->evEdit->clear();
  EvValid = false;
  ui_->Testbtn->setEnabled(false);
}

void TEMskDlg::Edit1Change() {
  Guarded([this] {
    DlgMask->ScanMask(Text(ui_->Edit1).view());
    EnableByMask(false);
  });
}

// A value box left by the user: empty is no value; a text of another length than the suffix
// is refused here; any other goes to the mask engine's own check.
void TEMskDlg::ValueBoxExit(const QLineEdit* box, bool& valid, const char* refusal) {
  const TmString value = Text(box);
  if (value.empty()) {
    valid = false;
  } else if (value.size() != DlgMask->GetSuffix().size()) {
    valid = false;
    ShowMessage(refusal);
  } else {
    valid = DlgMask->Validate(value);
  }
}

void TEMskDlg::svEditExit() {
  ValueBoxExit(ui_->svEdit, SvValid, "Invalid StartValue");
}

void TEMskDlg::evEditExit() {
  ValueBoxExit(ui_->evEdit, EvValid, "Invalid EndValue");
}

void TEMskDlg::OkbtnClick() {
  if (!ui_->svEdit->text().isEmpty()) SvValid = DlgMask->Validate(Text(ui_->svEdit));
  if (!ui_->evEdit->text().isEmpty()) EvValid = DlgMask->Validate(Text(ui_->evEdit));
  accept();
}

void TEMskDlg::Image1Click() {
  MessageBox(
      "   TGenerator: formatted keys from masks and shared sequences   \r\n"
      "   Version " TGEN_VERSION
      "   \r\n"
      "   The tgenerator developers, 2026   \r\n"
      "   Contact: tgenerator@users.invalid   ",
      "About", MB_ICONINFORMATION);
}

// ---------------------------------------------------------------------------------------------
// Testing

void TEMskDlg::TestbtnClick() {
  SetClientHeight(kCollapsedHeight);
  for (int h = kCollapsedHeight; h < kExpandedHeight;) {
    h += 5;
    SetClientHeight(h);
    repaint();
  }
  SetClientHeight(kExpandedHeight);
  Guarded([this] {
    DlgMask->ScanMask(Text(ui_->Edit1).view());
    if (SvValid) {
      DlgMask->SetStartValue(Text(ui_->svEdit));
      DlgMask->SetSuffix(Text(ui_->svEdit));
    } else {
      DlgMask->NullValue();
    }
    if (EvValid) DlgMask->SetEndValue(Text(ui_->evEdit));
    ShowTryOut();
    const QList<QWidget*> panel = {ui_->Edit3, ui_->Plusbtn, ui_->Minusbtn, ui_->Endbtn};
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      w->setEnabled(panel.contains(w));
    }
    ui_->Plusbtn->setDefault(true);
    ui_->Plusbtn->setFocus();
  });
}

void TEMskDlg::PlusbtnClick() {
  DlgMask->Increment();
  ShowTryOut();
}

void TEMskDlg::MinusbtnClick() {
  DlgMask->Decrement();
  ShowTryOut();
}

void TEMskDlg::SetTryOut(std::string period_format, int fiscal_start, TCheckMethod check) {
  period_format_ = std::move(period_format);
  fiscal_start_ = fiscal_start;
  check_ = check;
}

void TEMskDlg::ShowTryOut() {
  if (!period_format_.empty()) {
    try {
      const std::string period = FormatPeriod(period_format_, Today(), fiscal_start_);
      DlgMask->OnGetPROC = [period](TObject*, TmString& text) { text = period; };
      DlgMask->GetPrefix();  // fills the '@' places
    } catch (const Exception&) {
      // A format the mask no longer fits: the places show as written.
    }
  }
  std::string key = DlgMask->GetMskValue().str();
  try {
    key += CheckCharacters(check_, key);
  } catch (const Exception&) {
    // A key no check can cover is shown without one; a draw refuses it with the reason.
  }
  ui_->Edit3->setText(FromBytes(key));
}

void TEMskDlg::EndbtnClick() {
  for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    w->setEnabled(true);
  ui_->Okbtn->setDefault(true);
  SetClientHeight(kExpandedHeight);
  for (int h = kExpandedHeight; h > kCollapsedHeight;) {
    h -= 10;
    SetClientHeight(h);
    repaint();
  }
  SetClientHeight(kCollapsedHeight);
}

}  // namespace tgen
