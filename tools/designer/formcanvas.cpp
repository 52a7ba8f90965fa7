#include "tools/designer/formcanvas.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <utility>

#include "design/qtnotice.h"
#include "platform/model/component.h"

namespace tgen {

namespace {

constexpr int kNameHeight = 16;

int Snap(int value) {
  return std::max(0, (value + TFormCanvas::kGrid / 2) / TFormCanvas::kGrid * TFormCanvas::kGrid);
}

}  // namespace

TFormCanvas::TFormCanvas(std::function<QPixmap(const TComponent&)> picture, QWidget* parent)
    : QWidget(parent), picture_(std::move(picture)) {
  setObjectName(QStringLiteral("FormCanvas"));
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
  setPalette(pal);
  setMouseTracking(false);
}

void TFormCanvas::SetRoot(TComponent* root) {
  root_ = root;
  selected_ = nullptr;
  dragging_ = nullptr;
  updateGeometry();
  update();
}

void TFormCanvas::SetSelected(TComponent* component) {
  selected_ = component;
  update();
}

QRect TFormCanvas::BoxRect(const TComponent& component) const {
  return {component.Left(), component.Top(), kBox, kBox};
}

TComponent* TFormCanvas::ComponentAt(QPoint pos) const {
  if (root_ == nullptr) return nullptr;
  for (int i = root_->ComponentCount() - 1; i >= 0; --i) {
    TComponent* c = root_->Components(i);
    if (BoxRect(*c).contains(pos)) return c;
  }
  return nullptr;
}

QSize TFormCanvas::sizeHint() const {
  QSize size(480, 320);
  if (root_ == nullptr) return size;
  for (int i = 0; i < root_->ComponentCount(); ++i) {
    const QRect r = BoxRect(*root_->Components(i)).adjusted(-40, 0, 80, kNameHeight + 40);
    size = size.expandedTo(QSize(r.right(), r.bottom()));
  }
  return size;
}

void TFormCanvas::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setPen(Qt::black);
  for (int y = 0; y < height(); y += kGrid) {
    for (int x = 0; x < width(); x += kGrid)
      painter.drawPoint(x, y);
  }
  if (root_ == nullptr) return;
  for (int i = 0; i < root_->ComponentCount(); ++i)
    PaintComponent(painter, *root_->Components(i));
}

void TFormCanvas::PaintComponent(QPainter& painter, const TComponent& component) const {
  const QRect box = BoxRect(component);
  // A raised button face: light on the top and left, dark on the bottom and right.
  painter.fillRect(box, QColor(0xC0, 0xC0, 0xC0));
  painter.setPen(Qt::white);
  painter.drawLine(box.topLeft(), box.topRight());
  painter.drawLine(box.topLeft(), box.bottomLeft());
  painter.setPen(Qt::black);
  painter.drawLine(box.bottomLeft(), box.bottomRight());
  painter.drawLine(box.topRight(), box.bottomRight());
  const QPixmap pic = picture_(component);
  painter.drawPixmap(box.left() + (kBox - pic.width()) / 2, box.top() + (kBox - pic.height()) / 2,
                     pic);

  const QString name = FromBytes(component.Name());
  const int width = std::max(painter.fontMetrics().horizontalAdvance(name) + 6, kBox);
  const QRect label(box.center().x() - width / 2, box.bottom() + 3, width, kNameHeight);
  painter.fillRect(label, Qt::white);
  painter.setPen(Qt::black);
  painter.drawText(label, Qt::AlignCenter, name);

  if (&component == selected_) {
    // The four grab handles of a selected component.
    const QRect around = box.adjusted(-3, -3, 3, 3);
    for (const QPoint corner :
         {around.topLeft(), around.topRight(), around.bottomLeft(), around.bottomRight()}) {
      painter.fillRect(QRect(corner - QPoint(2, 2), QSize(5, 5)), Qt::black);
    }
  }
}

void TFormCanvas::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint pos = event->position().toPoint();
  TComponent* hit = ComponentAt(pos);
  if (hit == nullptr) {
    emit clickedEmpty(QPoint(Snap(pos.x()), Snap(pos.y())));
    return;
  }
  dragging_ = hit;
  grab_ = pos - BoxRect(*hit).topLeft();
  dragged_ = false;
  emit clickedComponent(hit);
}

void TFormCanvas::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ == nullptr || (event->buttons() & Qt::LeftButton) == 0) return;
  const QPoint to = event->position().toPoint() - grab_;
  const int left = Snap(to.x());
  const int top = Snap(to.y());
  if (left == dragging_->Left() && top == dragging_->Top()) return;
  dragging_->SetDesignPosition(left, top);
  dragged_ = true;
  updateGeometry();
  update();
}

void TFormCanvas::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || dragging_ == nullptr) return;
  TComponent* moved_one = std::exchange(dragging_, nullptr);
  if (dragged_) emit moved(moved_one);
}

void TFormCanvas::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  dragging_ = nullptr;
  if (TComponent* hit = ComponentAt(event->position().toPoint())) emit doubleClicked(hit);
}

void TFormCanvas::contextMenuEvent(QContextMenuEvent* event) {
  TComponent* hit = ComponentAt(event->pos());
  if (hit == nullptr) return;
  emit clickedComponent(hit);
  emit menuRequested(hit, event->globalPos());
}

}  // namespace tgen
