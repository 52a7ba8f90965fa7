// The form being designed, drawn as the builders drew non-visual components: each one as its
// palette picture in a raised box with its name beneath, at its design position.
//
// The canvas only shows and reports: a click, a drag, a double-click or a context-menu request
// becomes a signal, and the designer window decides what it means. Positions are the
// components' Left and Top, kept on an 8-pixel grid.
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QWidget>
#include <functional>

namespace tgen {

class TComponent;

class TFormCanvas : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kGrid = 8;
  static constexpr int kBox = 28;  // the picture's raised box

  // `picture` gives the palette picture of a component's class.
  TFormCanvas(std::function<QPixmap(const TComponent&)> picture, QWidget* parent = nullptr);

  void SetRoot(TComponent* root);
  void SetSelected(TComponent* component);
  [[nodiscard]] TComponent* Selected() const { return selected_; }
  // The component whose box lies under `pos`, topmost (latest) first; null for none.
  [[nodiscard]] TComponent* ComponentAt(QPoint pos) const;
  // Where a component's box and name are drawn.
  [[nodiscard]] QRect BoxRect(const TComponent& component) const;
  [[nodiscard]] QSize sizeHint() const override;

 signals:
  void clickedEmpty(QPoint pos);
  void clickedComponent(tgen::TComponent* component);
  void moved(tgen::TComponent* component);
  void doubleClicked(tgen::TComponent* component);
  void menuRequested(tgen::TComponent* component, QPoint globalPos);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void PaintComponent(QPainter& painter, const TComponent& component) const;

  std::function<QPixmap(const TComponent&)> picture_;
  TComponent* root_ = nullptr;
  TComponent* selected_ = nullptr;
  TComponent* dragging_ = nullptr;
  QPoint grab_;  // where in its box the dragged component was taken
  bool dragged_ = false;
};

}  // namespace tgen
