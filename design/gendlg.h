// The mask edit dialog: composes a mask from symbol kinds, takes its start and end values and
// tries the mask out step by step in a test panel, on a mask engine of its own.
//
// The caller fills Edit1, svEdit and evEdit, shows the dialog modally and, on OK, stores the
// three texts into its generator; the dialog itself never touches a generator. Use from the
// GUI thread; at most one is open at a time (it is modal).
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <memory>
#include <string>

#include "core/checkchar.h"
#include "core/genmask.h"

class QLineEdit;

namespace Ui {
class TEMskDlg;
}

namespace tgen {

// The dialog's mask engine: made when a dialog is created, dropped when it is freed.
extern std::unique_ptr<TGenMask> DlgMask;
// Whether the StartValue and EndValue boxes held accepted values at their last check. They
// outlive a dialog: a value accepted once still counts the next time a dialog opens.
extern bool SvValid;
extern bool EvValid;

class TEMskDlg : public QDialog {
  Q_OBJECT

 public:
  // Heights of the client area: the test panel hidden, and shown. The layout was drawn for
  // outer heights of 290 and 350 under a 30-pixel caption and frame; the client keeps its
  // height whatever frame the window system draws, so that a taller caption clips nothing.
  static constexpr int kCollapsedHeight = 260;
  static constexpr int kExpandedHeight = 320;

  explicit TEMskDlg(QWidget* parent = nullptr);
  ~TEMskDlg() override;
  TEMskDlg(const TEMskDlg&) = delete;
  TEMskDlg& operator=(const TEMskDlg&) = delete;

  // The three texts the dialog edits: the mask (Edit1), the start (svEdit) and end (evEdit).
  [[nodiscard]] QLineEdit& Edit1() const;
  [[nodiscard]] QLineEdit& svEdit() const;
  [[nodiscard]] QLineEdit& evEdit() const;

  // The window's outer height, frame and caption included, as the window system draws them
  // (no frame before the dialog is shown, nor offscreen).
  [[nodiscard]] int OuterHeight() const;
  // Fixes the client area at `height`: the user cannot resize the dialog at any step.
  void SetClientHeight(int height);
  // The try-out panel shows keys as the generator makes them: the '@' places filled by
  // `period_format` (for today, fiscal years beginning in month `fiscal_start`) and the check
  // characters of `check` appended.
  void SetTryOut(std::string period_format, int fiscal_start, TCheckMethod check);

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormShow();
  // Shows the try-out value as a key (SetTryOut).
  void ShowTryOut();
  void RGClick(int index);
  void AddbtnClick();
  void ErasebtnClick();
  void Edit1Change();
  void ValueBoxExit(const QLineEdit* box, bool& valid, const char* refusal);
  void svEditExit();
  void evEditExit();
  void TestbtnClick();
  void PlusbtnClick();
  void MinusbtnClick();
  void EndbtnClick();
  void OkbtnClick();
  void Image1Click();
  // Enables the test button and the value boxes as the mask text is empty or not.
  void EnableByMask(bool test_button);

  std::unique_ptr<Ui::TEMskDlg> ui_;
  std::string period_format_;
  int fiscal_start_ = 1;
  TCheckMethod check_ = TCheckMethod::cmNone;
};

}  // namespace tgen
