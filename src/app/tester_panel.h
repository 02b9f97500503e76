// The single command tester's controls inside the main window's panel `TESTPL`:
// address, command, function address and data fields, the eight multi-data
// words, the composed SEND text with its check digits, the received answer,
// and the Send / Repeat / Clear Result / Close buttons. The logic is kx::Tester
// (core/tester.h); this class binds the named controls to it.
#pragma once

#include <QObject>

#include <array>
#include <functional>

#include "core/routing/main_routing.h"
#include "core/line/session.h"
#include "core/tester/tester.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kx::app {

class DropList;

class TesterPanel : public QObject {
  Q_OBJECT

 public:
  struct Hooks {
    std::function<void(bool enabled)> setToolBarEnabled;  // the main window's tool bar
    std::function<void(bool on)> setRepeatTimer;          // the main window's Timer1 at 1500 ms
  };

  // Fills `testpl` (the main window's panel `TESTPL`) with the tester's controls
  // and takes the tester side of `routing` (received text, the send Timer1 calls).
  TesterPanel(QFrame* testpl, Session& session, MainPortRouting& routing, Hooks hooks);
  ~TesterPanel() override;

  Tester& tester() { return tester_; }
  QFrame* panel() const { return TESTPL; }

 private slots:
  void SCmdBoxSelect(int index);
  void SCOMAddrChange();
  void Edit1Change();
  void SendBtClick();
  void RSendBtClick();
  void SClearBtClick();
  void SExitBtClick();

 private:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void Build();
  void PlaceUserCmd();
  // What the fields show, the multi-data words in their word order.
  TesterFields ReadFields() const;
  void ShowState();

  QFrame* TESTPL;
  Session& session_;
  MainPortRouting& routing_;
  Hooks hooks_;
  Tester tester_;

  QLabel* SingleCmdLb = nullptr;
  QLabel* AddrSendLb = nullptr;
  QLineEdit* SCOMAddr = nullptr;
  QLabel* CmdSendLb = nullptr;
  DropList* SCmdBox = nullptr;
  QLineEdit* UserCmd = nullptr;
  QLabel* FuncSendLb = nullptr;
  QLineEdit* SFunc = nullptr;
  QLabel* DataLenLb = nullptr;
  QLineEdit* SDataLen = nullptr;
  QLabel* CheckSumSendLb = nullptr;
  QLineEdit* SChkSum = nullptr;
  QLabel* SendLb = nullptr;
  QLineEdit* SendEdit = nullptr;
  QLabel* RcvLb = nullptr;
  QLineEdit* RcvEdit = nullptr;
  QGroupBox* MutiWrBox = nullptr;
  QLabel* MutiWrLB = nullptr;
  std::array<QLineEdit*, kTesterWords> Edit{};  // Edit[0] is `Edit1`
  QLabel* Image2 = nullptr;
  QPushButton* SendBt = nullptr;
  QPushButton* RSendBt = nullptr;
  QPushButton* SClearBt = nullptr;
  QPushButton* SExitBt = nullptr;
};

}  // namespace kx::app
