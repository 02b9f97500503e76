// The ramp/soak editor `RampSoak`: the program grid `ProgTable` (8 patterns of
// 8 steps), the Edit Page with one editor per kind of cell, the start pattern,
// the preview curve `ProgCurve`, "*.r$s" files, and the buttons that read the
// program from the monitor's selected controller and write it back. The
// transfers themselves are carried out by whoever listens to ReadRequested()
// and WriteRequested() (the monitor); it reports back through the transfer
// methods below.
#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QWidget>

#include "core/ramp/program_table.h"
#include "widgets/drop_list.h"

namespace kx::ramp {

class RampSoakWindow : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kDesignWidth = 740;
  static constexpr int kDesignHeight = 476;

  explicit RampSoakWindow(QWidget* parent = nullptr);

  const ProgramTable& table() const { return table_; }
  bool filled() const { return filled_; }
  // Takes a program (read from a controller or a file): displayed, the file,
  // edit and write controls enabled, the curve redrawn.
  void SetTable(const ProgramTable& table);

  // ---- Transfers, reported by the monitor ----
  void TransferProgress(int permille);
  // Read Setting has read the whole program.
  void ReadFinished(const ProgramTable& table);
  // Write has sent all 153 registers.
  void WriteFinished();
  // A transfer stopped part-way (controller dropped or refusing): the controls
  // come back, the table keeps what it had.
  void TransferStopped();

 signals:
  void ReadRequested();
  void WriteRequested();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  enum class CellKind { None, MaxStep, SetValue, Time, LoopCount, Link };
  static CellKind KindOf(int row);

  void BuildGrid();
  void BuildButtons();
  void BuildEditPage();
  void WriteHeadings();
  void DisplayTable();
  void DisplayCell(int row, int column);
  void DrawCurve();
  void CellSelected(int row, int column);
  void LoadEditor();
  void Store();
  void HourChanged(int index);
  void SetBusy(bool busy, const QString& label);
  void ReadFile();
  void SaveFile();
  void StartRead();
  void StartWrite();

  ProgramTable table_;
  bool filled_ = false;
  int targetRow_ = 1;
  int targetColumn_ = 1;
  bool loading_ = false;  // editors being loaded: their change signals store nothing

  QTableWidget* progTable_ = nullptr;
  QLabel* startPlb_ = nullptr;
  app::DropList* progStart_ = nullptr;
  QPushButton* readSBt_ = nullptr;
  QPushButton* readFBt_ = nullptr;
  QPushButton* saveFBt_ = nullptr;
  QPushButton* wrBt_ = nullptr;
  QPushButton* editPBt_ = nullptr;
  QPushButton* retBt_ = nullptr;

  QGroupBox* editBox_ = nullptr;
  QLabel* stepLinkLb_ = nullptr;
  QComboBox* maxStep_ = nullptr;
  QLineEdit* spEdit_ = nullptr;
  QComboBox* stepLink_ = nullptr;
  app::DropList* timeHour_ = nullptr;
  QLabel* timeMinLb_ = nullptr;
  QSpinBox* timeMin_ = nullptr;
  QPushButton* pokBt_ = nullptr;

  QLabel* progCurve_ = nullptr;
  QLabel* upLoadLabel_ = nullptr;
  QProgressBar* upLoadBar_ = nullptr;
};

}  // namespace kx::ramp
