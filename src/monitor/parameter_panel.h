// The parameter panel `ParaPL` of the monitor window: the groups, fields,
// lists and labels of the selected controller's parameters, the password area
// and the KX3 security group. The rules live in core (panel::PanelModel); this
// class builds the controls by name, copies the model's looks onto them and
// turns the user's entries into engine calls.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

#include <array>
#include <map>
#include <span>
#include <string>

#include "core/monitor/monitor_engine.h"
#include "core/monitor/parameter_panel_rules.h"
#include "monitor/monitor_widgets.h"

namespace kx::app {
class RadioGroup;
}

namespace kx::monitor {

class PasswordDialog;

// A drop-down list that tells when its list opens and closes.
class DropList : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
  void showPopup() override;
  void hidePopup() override;
 signals:
  void droppedDown();
  void closedUp();

 private:
  bool popupOpen_ = false;
};

class ParameterPanel : public QWidget {
  Q_OBJECT
 public:
  ParameterPanel(QWidget* parent, DesignScaler& scaler, MonitorEngine& engine);
  // Stops the controls from reaching the engine: called by the window before
  // the engine goes, since the controls still send signals while they are
  // hidden and destroyed afterwards.
  void detach();

  // ---- From the engine (through the monitor window) ----
  void pageRead(int type, const RegBlock& block, std::span<const std::uint16_t> words);
  void layoutPanel();
  void hideCalibration();
  void securityPoll(int device);
  void securityChanged(int device);
  // Program display of the selected device: `ProgDisp` on item `mode` in
  // place of the `SV` field, or the `SV` field back.
  void showProgramList(bool shown, int mode);
  bool svFieldShown() const;

  PasswordDialog* passwordDialog() const { return dialog_; }
  const panel::PanelModel& model() const { return model_; }
  QWidget* control(std::string_view name) const;
  // Layouts applied so far (each complete parameter read ends with one).
  int layoutCount() const { return layoutCount_; }

 signals:
  void laidOut();                        // a complete read has been applied
  void statusText(const QString& text);  // "illegal function on wrong modle"
  void diagnostics(bool shown);          // "probe on" / "probe off"

 private:
  void build();
  QWidget* parentFor(std::string_view group);
  void apply();
  void act(const panel::PanelAction& action);
  panel::PanelInput input() const;
  panel::DeviceContext context() const;
  void fieldEntered(const std::string& name);
  void listChosen(const std::string& name, int item);
  void clearClicked(int which);
  void passwordEntered();
  void refreshSecurity(int device);
  void keyListDropped();
  void keyListClosed(int n);
  void keyEntered(std::uint16_t key);

  DesignScaler& scaler_;
  MonitorEngine& engine_;
  panel::PanelModel model_;
  std::map<std::string, QWidget*, std::less<>> controls_;
  PasswordDialog* dialog_ = nullptr;
  app::RadioGroup* sLevel_ = nullptr;
  ClickLabel* fwVersion_ = nullptr;
  QLineEdit* passEdit_ = nullptr;
  std::array<int, 3> rememberedKeys_{};  // items the key lists last showed
  std::uint16_t dialogRegister_ = 0;      // register the dialog's key goes to
  bool applying_ = false;
  int layoutCount_ = 0;
};

}  // namespace kx::monitor
