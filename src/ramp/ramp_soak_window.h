// The ramp/soak editor `RampSoak`: the program grid `ProgTable` (8 patterns of
// 8 steps), the Edit Page with one editor per kind of cell, the start pattern,
// the preview curve `ProgCurve`, "*.r$s" files, and the buttons that read the
// program from the monitor's selected controller and write it back. What the
// grid shows and stores is decided in core (core/ramp/program_grid.h). The
// transfers themselves are carried out by whoever listens to ReadRequested()
// and WriteRequested() (app connects the monitor's transfers); it reports back
// through the transfer methods below.
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
#include "core/text/messages.h"
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

  // ---- Transfers, reported by whoever carries them out ----
  void TransferProgress(int permille);
  // Read Setting has read the whole program: the transfer ends, the table is taken.
  void ReadFinished(const ProgramTable& table);
  // A write has sent all 153 registers, or a transfer stopped part-way
  // (controller dropped or refusing): the controls come back, the table
  // keeps what it had.
  void TransferEnded();

 signals:
  void ReadRequested();
  void WriteRequested();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
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
  // Enables the controls and shows the progress line as the state asks.
  void ApplyControls();
  void StartTransfer(Msg label);
  void ReadFile();
  void SaveFile();
  void StartRead();
  void StartWrite();

  ProgramTable table_;
  bool filled_ = false;
  bool transferring_ = false;
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
