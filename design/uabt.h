// The about box: a borderless window naming the component and this project, with clickable
// addresses; and ExecuteCmnd, which opens an address with the desktop's default handler.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>

class QLabel;

namespace tgen {

// The released and pressed looks of the box's OK picture, made with each box and dropped
// with it (null while no box exists).
extern std::unique_ptr<QPixmap> BtnUpBmp;
extern std::unique_ptr<QPixmap> BtnDownBmp;

class TAboutFrm : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kAutoCloseMs = 10000;

  explicit TAboutFrm(QWidget* parent = nullptr);
  ~TAboutFrm() override;
  TAboutFrm(const TAboutFrm&) = delete;
  TAboutFrm& operator=(const TAboutFrm&) = delete;

  // The caption becomes the stored caption, a blank and the name (unless the name is empty).
  void SetComponentName(const QString& name);
  // Whether the box closes itself kAutoCloseMs after it is shown.
  bool AutoClose = false;

 protected:
  void showEvent(QShowEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormClick();

  class QTimer* timer_;
  QLabel* caplbl_;
  QLabel* okbtn_;
};

// Shows an about box for the component, modally, and frees it when it closes.
void ShowAboutBox(const QString& componentName, bool autoClose);

// Opens `file` (an address) with the desktop's default handler, never through a shell. Texts
// longer than 79 characters are refused. Returns more than 32 on success, as the shell call
// this stands for did; 11 for a refused text, 31 when no handler took it.
int ExecuteCmnd(const std::string& file, const std::string& params, const std::string& dir,
                int showMode);

// Replaces how addresses are opened (tests); the default is QDesktopServices::openUrl.
void SetAddressOpener(std::function<bool(const QUrl&)> opener);

}  // namespace tgen
