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
#include "widgets/drop_list.h"

namespace kx::app {
class RadioGroup;
}

namespace kx::monitor {

class PasswordDialog;
using app::DropList;

class ParameterPanel : public QWidget {
  Q_OBJECT
 public:
  ParameterPanel(QWidget* parent, DesignScaler& scaler, MonitorEngine& engine);
  // Stops the controls from reaching the engine: called by the window before
  // the engine goes, since the controls still send signals while they are
  // hidden and destroyed afterwards.
  void Detach();

  // ---- From the engine (through the monitor window) ----
  void PageRead(int type, const RegBlock& block, std::span<const std::uint16_t> words);
  void LayoutPanel();
  void HideCalibration();
  void SecurityPoll(int device);
  void SecurityChanged(int device);
  // The selected device's record changed: the enabled controls follow it.
  void RecordChanged(int device);
  // Program display of the selected device: `ProgDisp` on item `mode` in
  // place of the `SV` field, or the `SV` field back.
  void ShowProgramList(bool shown, int mode);
  bool SvFieldShown() const;

  PasswordDialog* passwordDialog() const { return dialog_; }
  const panel::PanelModel& model() const { return model_; }
  QWidget* Control(std::string_view name) const;
  // Layouts applied so far (each complete parameter read ends with one).
  int layoutCount() const { return layoutCount_; }

 signals:
  void LaidOut();                        // a complete read has been applied
  void StatusText(const QString& text);  // "illegal function on wrong modle"
  void Diagnostics(bool shown);          // "probe on" / "probe off"

 private:
  void Build();
  QWidget* ParentFor(std::string_view group);
  void Apply();
  void Act(const panel::PanelAction& action);
  panel::PanelInput Input() const;
  panel::DeviceContext Context() const;
  void FieldEntered(const std::string& name);
  // Puts the shown value back into a field left without Enter.
  void RestoreField(const std::string& name);
  bool eventFilter(QObject* watched, QEvent* event) override;
  void LevelClicked(int item);
  void ListChosen(const std::string& name, int item);
  void ClearClicked(int which);
  void PasswordEntered();
  // The firmware-version button in front of the password area, or put aside.
  void ShowFirmwareButton(bool shown);
  void RefreshSecurity(int device);
  void KeyListDropped();
  void KeyListClosed(int n);
  void KeyEntered(std::uint16_t key);
  void KeyDismissed();

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
  bool levelChosen_ = false;  // a level picked in `SLevel` awaits its check or key
  bool applying_ = false;
  int layoutCount_ = 0;
};

}  // namespace kx::monitor
