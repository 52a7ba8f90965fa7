#include "design/uabt.h"

#include <QDesktopServices>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include "design/resources.h"
#include "design/units.h"
#include "ui_taboutfrm.h"

namespace tgen {

std::unique_ptr<QPixmap> BtnUpBmp;
std::unique_ptr<QPixmap> BtnDownBmp;

namespace {

constexpr const char* kWebAddress = "https://tgenerator.invalid/";
constexpr const char* kMailAddress = "keys@tgenerator.invalid";
constexpr const char* kAuthorAddress = "developers@tgenerator.invalid";

constexpr int kRefused = 11;    // a text longer than the call takes
constexpr int kNoHandler = 31;  // nothing on the desktop opens the address
constexpr int kOpened = 42;     // above 32: success

std::function<bool(const QUrl&)>& Opener() {
  static std::function<bool(const QUrl&)> opener = [](const QUrl& url) {
    return QDesktopServices::openUrl(url);
  };
  return opener;
}

// The picture below the title strip: a soft gradient from blue to white.
QPixmap Background(const QSize& size) {
  QPixmap picture(size);
  QPainter painter(&picture);
  QLinearGradient gradient(0, 0, 0, size.height());
  gradient.setColorAt(0, QColor(0xE8, 0xF0, 0xFF));
  gradient.setColorAt(0.75, Qt::white);
  gradient.setColorAt(1, QColor(0x40, 0x60, 0xA0));
  painter.fillRect(picture.rect(), gradient);
  return picture;
}

}  // namespace

void SetAddressOpener(std::function<bool(const QUrl&)> opener) {
  Opener() =
      opener ? std::move(opener) : [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

void UAbtFinalization() {
  BtnUpBmp.reset();
  BtnDownBmp.reset();
  SetAddressOpener({});
}

int ExecuteCmnd(const std::string& file, const std::string& params, const std::string& dir,
                int /*showMode*/) {
  // The call took texts of at most 79 characters; longer ones are refused, not cut.
  for (const std::string* text : {&file, &params, &dir}) {
    if (text->size() > 79) return kRefused;
  }
  const QUrl url(QString::fromUtf8(file.data(), static_cast<qsizetype>(file.size())));
  if (!url.isValid() || url.isEmpty()) return kNoHandler;
  return Opener()(url) ? kOpened : kNoHandler;
}

TAboutFrm::TAboutFrm(QWidget* parent) : QDialog(parent), timer_(new QTimer(this)) {
  InitDesignResources();
  const auto ui = std::make_unique<Ui::TAboutFrm>();  // the widgets belong to the window
  ui->setupUi(this);
  setFixedSize(size());
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);

  // FormCreate: the two looks of the OK picture, from the package's own resources.
  BtnUpBmp.reset();
  BtnDownBmp.reset();
  BtnUpBmp = std::make_unique<QPixmap>(":/tgenerator/btnok_up.xpm");
  BtnDownBmp = std::make_unique<QPixmap>(":/tgenerator/btnok_dn.xpm");
  AutoClose = false;

  ui->Image1->setPixmap(Background(ui->Image1->size()));
  ui->Image2->setPixmap(QPixmap(":/tgenerator/tgenerator.xpm"));
  ui->Image1->lower();
  caplbl_ = ui->CapLbl;
  okbtn_ = ui->OkBtn;
  // Every control answers its own clicks: the pictures close the box, address labels open
  // their address, and the other labels and the frame lines do nothing.
  for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    w->installEventFilter(this);
  }
  ui->Image1->setProperty("closes", true);
  ui->Image2->setProperty("closes", true);
  // Which label opens which address.
  ui->Label6->setProperty("address", kWebAddress);
  ui->Label7->setProperty("address", kWebAddress);
  ui->Label8->setProperty("address", kWebAddress);
  ui->Label11->setProperty("address", QString("mailto:") + kMailAddress);
  ui->Label9->setProperty("address", QString("mailto:") + kAuthorAddress);

  timer_->setSingleShot(true);
  timer_->setInterval(kAutoCloseMs);
  connect(timer_, &QTimer::timeout, this, &TAboutFrm::FormClick);
}

TAboutFrm::~TAboutFrm() {
  // FormDestroy
  BtnUpBmp.reset();
  BtnDownBmp.reset();
}

void TAboutFrm::SetComponentName(const QString& name) {
  if (!name.isEmpty()) setWindowTitle(windowTitle() + " " + name);
}

void TAboutFrm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  caplbl_->setText(windowTitle());
  okbtn_->setPixmap(*BtnUpBmp);
  if (AutoClose) {
    timer_->start();
  } else {
    timer_->stop();
  }
}

void TAboutFrm::FormClick() {
  done(QDialog::Accepted);
}

void TAboutFrm::mouseReleaseEvent(QMouseEvent* event) {
  // A click on the bare window: pressed and released on it.
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    FormClick();
  }
}

bool TAboutFrm::eventFilter(QObject* watched, QEvent* event) {
  auto* mouse = dynamic_cast<QMouseEvent*>(event);
  if (mouse == nullptr) return QDialog::eventFilter(watched, event);
  const bool left = mouse->button() == Qt::LeftButton;
  if (watched == okbtn_) {
    if (event->type() == QEvent::MouseButtonPress) okbtn_->setPixmap(*BtnDownBmp);
    if (event->type() == QEvent::MouseButtonRelease) {
      okbtn_->setPixmap(*BtnUpBmp);
      // A click: released on the picture.
      if (left && okbtn_->rect().contains(mouse->position().toPoint())) FormClick();
    }
    return true;
  }
  // A click: pressed on the control and released on it.
  auto* widget = qobject_cast<QWidget*>(watched);
  if (event->type() != QEvent::MouseButtonRelease || !left || widget == nullptr ||
      !widget->rect().contains(mouse->position().toPoint())) {
    return true;
  }
  const QVariant address = watched->property("address");
  if (address.isValid()) {
    ExecuteCmnd(address.toString().toStdString(), "", "c:", 1);  // the box stays open
  } else if (watched->property("closes").toBool()) {
    FormClick();
  }
  return true;
}

void ShowAboutBox(const QString& componentName, bool autoClose) {
  TAboutFrm box;
  box.SetComponentName(componentName);
  box.AutoClose = autoClose;
  box.exec();
}

}  // namespace tgen
