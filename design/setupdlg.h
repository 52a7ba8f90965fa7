// The database setup dialog: picks the alias and the table of a generator table. The table
// list follows the alias the user types or picks; the dialog neither reads nor writes a
// generator (its caller copies the two texts on OK). Use from the GUI thread.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class TDBSetupDlg;
}

namespace tgen {

class TDBSetupDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TDBSetupDlg(QWidget* parent = nullptr);
  ~TDBSetupDlg() override;
  TDBSetupDlg(const TDBSetupDlg&) = delete;
  TDBSetupDlg& operator=(const TDBSetupDlg&) = delete;

  // Empties the table box and lists the tables of the alias in the alias box; a failure to
  // list them leaves the table box disabled, with no message.
  void DBNameChange();
  // The alias box and the table box.
  [[nodiscard]] QComboBox& DBName() const;
  [[nodiscard]] QComboBox& TblName() const;
  // Shows a generator's alias and table: the alias with its tables listed and the table
  // chosen. An alias whose tables cannot be listed leaves both boxes empty and the table box
  // enabled.
  void Preselect(const QString& alias, const QString& table);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  // Notes Return in the alias box, which the box also reports as a pick of its text.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::unique_ptr<Ui::TDBSetupDlg> ui_;
  bool returning_ = false;  // Return is being pressed in the alias box
};

}  // namespace tgen
