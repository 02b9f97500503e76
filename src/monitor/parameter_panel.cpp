#include "monitor/parameter_panel.h"

#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "core/text/messages.h"
#include "monitor/password_dialog.h"
#include "widgets/message_box.h"
#include "widgets/qt_text.h"
#include "widgets/radio_group.h"

namespace kx::monitor {

namespace {

constexpr int kFontPt = 8;
constexpr int kSmallFontPt = 7;
constexpr int kFieldChars = 5;
const QColor kYellow(0xFF, 0xFF, 0x00);
const QColor kPanelGrey(0xF4, 0xF4, 0xF4);

// Where a control sits: its group ("" for the panel itself) and its design
// rectangle within that parent, at the monitor's design width of 808.
struct Place {
  std::string_view name;
  std::string_view parent;
  QRect rect;
};

// Row helpers for the group boxes: label and control side by side.
constexpr int RowY(int row, int first = 18, int pitch = 24) { return first + row * pitch; }

constexpr Place kPlaces[] = {
    // Groups.
    {"CtrlBox", "", {4, 2, 168, 166}},
    {"TempBox", "", {176, 2, 144, 166}},
    {"PIDBox", "", {324, 2, 152, 214}},
    {"OnOffBox", "", {324, 2, 152, 214}},
    {"ManuBox", "", {324, 2, 152, 214}},
    {"AlmBox", "", {480, 30, 316, 158}},
    {"AdjustBox", "", {4, 220, 472, 78}},
    {"SecurityPL", "", {480, 192, 316, 106}},

    // Control.
    {"CtrlSetLb", "CtrlBox", {4, RowY(0), 72, 20}},
    {"CtrlSet", "CtrlBox", {78, RowY(0), 86, 20}},
    {"RunStopLb", "CtrlBox", {4, RowY(1), 72, 20}},
    {"RunStop", "CtrlBox", {78, RowY(1), 86, 20}},
    {"HCLb", "CtrlBox", {4, RowY(2), 72, 20}},
    {"HeatCool", "CtrlBox", {78, RowY(2), 86, 20}},
    {"Out1Sel", "CtrlBox", {78, RowY(2), 86, 20}},
    {"LockLb", "CtrlBox", {4, RowY(3), 72, 20}},
    {"LockStatus", "CtrlBox", {78, RowY(3), 86, 20}},
    {"OutType1LB", "CtrlBox", {4, RowY(4), 72, 20}},
    {"OutputType1", "CtrlBox", {78, RowY(4), 86, 20}},
    {"OutType2LB", "CtrlBox", {4, RowY(5), 72, 20}},
    {"OutputType2", "CtrlBox", {78, RowY(5), 86, 20}},

    // Panel level: com write (or output 2's function), auto-tuning, SV.
    {"ComWLb", "", {10, 172, 66, 20}},
    {"ComWrite", "", {82, 172, 90, 20}},
    {"Out2Sel", "", {82, 172, 90, 20}},
    {"ATLb", "", {10, 196, 66, 20}},
    {"AT", "", {82, 196, 90, 20}},
    {"SV", "", {176 + 64, 2 + RowY(2), 74, 20}},

    // Input.
    {"InputLb", "TempBox", {6, RowY(0), 56, 20}},
    {"InputA", "TempBox", {64, RowY(0), 74, 20}},
    {"InputB", "TempBox", {64, RowY(0), 74, 20}},
    {"UnitLb", "TempBox", {6, RowY(1), 56, 20}},
    {"Unit", "TempBox", {64, RowY(1), 74, 20}},
    {"ProgDispLb", "TempBox", {6, RowY(2), 56, 20}},
    {"ProgDisp", "TempBox", {64, RowY(2), 74, 20}},
    {"RangeHiLb", "TempBox", {6, RowY(3), 56, 20}},
    {"RangeHi", "TempBox", {64, RowY(3), 74, 20}},
    {"RangeLoLb", "TempBox", {6, RowY(4), 56, 20}},
    {"RangeLo", "TempBox", {64, RowY(4), 74, 20}},
    {"PointerLb", "TempBox", {6, RowY(5), 56, 20}},
    {"Pointer", "TempBox", {64, RowY(5), 74, 20}},

    // PID.
    {"PbLb", "PIDBox", {6, RowY(0), 78, 20}},
    {"Pb", "PIDBox", {88, RowY(0), 58, 20}},
    {"TiLb", "PIDBox", {6, RowY(1), 78, 20}},
    {"Ti", "PIDBox", {88, RowY(1), 58, 20}},
    {"TdLb", "PIDBox", {6, RowY(2), 78, 20}},
    {"Td", "PIDBox", {88, RowY(2), 58, 20}},
    {"PERIOD1Lb", "PIDBox", {6, RowY(3), 78, 20}},
    {"HCPeriodPID1", "PIDBox", {88, RowY(3), 58, 20}},
    {"PERIOD2Lb", "PIDBox", {6, RowY(4), 78, 20}},
    {"HCPeriodPID2", "PIDBox", {88, RowY(4), 58, 20}},
    {"IOffsetLb", "PIDBox", {6, RowY(5), 78, 20}},
    {"IOffset", "PIDBox", {88, RowY(5), 58, 20}},
    {"PDOffsetLb", "PIDBox", {6, RowY(5), 78, 20}},
    {"PDOffset", "PIDBox", {88, RowY(5), 58, 20}},
    {"CoeffLb", "PIDBox", {6, RowY(6), 78, 20}},
    {"Coeff", "PIDBox", {88, RowY(6), 58, 20}},
    {"DeadLb1", "PIDBox", {6, RowY(7), 78, 20}},
    {"DeadBand1", "PIDBox", {88, RowY(7), 58, 20}},

    // ON-OFF.
    {"Hyst1Lb", "OnOffBox", {6, RowY(0), 78, 20}},
    {"Hyst1", "OnOffBox", {88, RowY(0), 58, 20}},
    {"Hyst2Lb", "OnOffBox", {6, RowY(1), 78, 20}},
    {"Hyst2", "OnOffBox", {88, RowY(1), 58, 20}},
    {"DeadLb2", "OnOffBox", {6, RowY(2), 78, 20}},
    {"DeadBand2", "OnOffBox", {88, RowY(2), 58, 20}},

    // Manual.
    {"OUTQ1Lb", "ManuBox", {6, RowY(0), 78, 20}},
    {"OUTQ1", "ManuBox", {88, RowY(0), 58, 20}},
    {"CPeriod1Lb", "ManuBox", {6, RowY(1), 78, 20}},
    {"HCPeriod1", "ManuBox", {88, RowY(1), 58, 20}},
    {"CurrHiLb", "ManuBox", {6, RowY(2), 78, 20}},
    {"CurrHi", "ManuBox", {88, RowY(2), 58, 20}},
    {"CurrLoLb", "ManuBox", {6, RowY(3), 78, 20}},
    {"CurrLo", "ManuBox", {88, RowY(3), 58, 20}},
    {"CPeriod2Lb", "ManuBox", {6, RowY(4), 78, 20}},
    {"HCPeriod2", "ManuBox", {88, RowY(4), 58, 20}},
    {"OUTQ2Lb", "ManuBox", {6, RowY(5), 78, 20}},
    {"OUTQ2", "ManuBox", {88, RowY(5), 58, 20}},

    // Alarm: per alarm a mode row and an up/down row.
    {"ALM1MLb", "AlmBox", {6, RowY(0, 16, 20), 76, 18}},
    {"ALM1Mode", "AlmBox", {84, RowY(0, 16, 20), 150, 18}},
    {"UP1LLb", "AlmBox", {84, RowY(1, 16, 20), 22, 18}},
    {"UpLimit1", "AlmBox", {106, RowY(1, 16, 20), 50, 18}},
    {"DN1LLb", "AlmBox", {160, RowY(1, 16, 20), 32, 18}},
    {"DnLimit1", "AlmBox", {194, RowY(1, 16, 20), 50, 18}},
    {"ALM2MLb", "AlmBox", {6, RowY(2, 16, 20), 76, 18}},
    {"ALM2Mode", "AlmBox", {84, RowY(2, 16, 20), 150, 18}},
    {"UP2LLb", "AlmBox", {84, RowY(3, 16, 20), 22, 18}},
    {"UpLimit2", "AlmBox", {106, RowY(3, 16, 20), 50, 18}},
    {"DN2LLb", "AlmBox", {160, RowY(3, 16, 20), 32, 18}},
    {"DnLimit2", "AlmBox", {194, RowY(3, 16, 20), 50, 18}},
    {"ALM3MLb", "AlmBox", {6, RowY(4, 16, 20), 76, 18}},
    {"ALM3Mode", "AlmBox", {84, RowY(4, 16, 20), 150, 18}},
    {"UP3LLb", "AlmBox", {84, RowY(5, 16, 20), 22, 18}},
    {"UpLimit3", "AlmBox", {106, RowY(5, 16, 20), 50, 18}},
    {"DN3LLb", "AlmBox", {160, RowY(5, 16, 20), 32, 18}},
    {"DnLimit3", "AlmBox", {194, RowY(5, 16, 20), 50, 18}},
    {"SAlmLb", "AlmBox", {6, RowY(6, 16, 20), 76, 18}},
    {"SALMode", "AlmBox", {84, RowY(6, 16, 20), 150, 18}},

    // PV tuning: three columns of label and field, the buttons on the right.
    {"PVTuneLb", "AdjustBox", {4, 16, 66, 18}},
    {"PVTune", "AdjustBox", {70, 16, 40, 18}},
    {"RTDOfsLb", "AdjustBox", {4, 36, 66, 18}},
    {"RTDOfs", "AdjustBox", {70, 36, 40, 18}},
    {"RTDGainLb", "AdjustBox", {4, 56, 66, 18}},
    {"RTDGain", "AdjustBox", {70, 56, 40, 18}},
    {"TCOfsLb", "AdjustBox", {112, 16, 68, 18}},
    {"TCOfs", "AdjustBox", {180, 16, 40, 18}},
    {"TCGainLb", "AdjustBox", {112, 36, 68, 18}},
    {"TCGain", "AdjustBox", {180, 36, 40, 18}},
    {"ColdJLb", "AdjustBox", {112, 56, 68, 18}},
    {"ColdJ", "AdjustBox", {180, 56, 40, 18}},
    {"mVOfsLb", "AdjustBox", {222, 16, 68, 18}},
    {"mVOfs", "AdjustBox", {290, 16, 40, 18}},
    {"mVGainLb", "AdjustBox", {222, 36, 68, 18}},
    {"mVGain", "AdjustBox", {290, 36, 40, 18}},
    {"ClearBt1", "AdjustBox", {336, 14, 132, 26}},
    {"ClearBt2", "AdjustBox", {336, 44, 132, 26}},

    // Security.
    {"Pass1Lb", "SecurityPL", {6, RowY(0, 18, 26), 70, 20}},
    {"Pass1", "SecurityPL", {78, RowY(0, 18, 26), 78, 20}},
    {"Pass2Lb", "SecurityPL", {6, RowY(1, 18, 26), 70, 20}},
    {"Pass2", "SecurityPL", {78, RowY(1, 18, 26), 78, 20}},
    {"Pass3Lb", "SecurityPL", {6, RowY(2, 18, 26), 70, 20}},
    {"Pass3", "SecurityPL", {78, RowY(2, 18, 26), 78, 20}},
    {"SLevel", "SecurityPL", {162, 6, 148, 96}},

    // Password area: the firmware version lies over the password label and field.
    {"PassLb", "", {600, 6, 76, 20}},
    {"PassEdit", "", {680, 6, 110, 20}},
    {"FWVersion", "", {600, 4, 192, 24}},
};

const Place* FindPlace(std::string_view name) {
  for (const Place& p : kPlaces)
    if (p.name == name) return &p;
  return nullptr;
}

QString Q(std::string_view text) { return app::ToQString(text); }

}  // namespace

ParameterPanel::ParameterPanel(QWidget* parent, DesignScaler& scaler, MonitorEngine& engine)
    : QWidget(parent), scaler_(scaler), engine_(engine) {
  setObjectName(QStringLiteral("ParaPL"));
  SetBackground(this, kPanelGrey);
  dialog_ = new PasswordDialog(this);
  connect(dialog_, &PasswordDialog::KeyEntered, this, &ParameterPanel::KeyEntered);
  connect(dialog_, &PasswordDialog::Dismissed, this, &ParameterPanel::KeyDismissed);
  Build();
  Apply();
}

void ParameterPanel::Detach() {
  for (const auto& entry : controls_) QObject::disconnect(entry.second, nullptr, this, nullptr);
  QObject::disconnect(passEdit_, nullptr, this, nullptr);
  QObject::disconnect(fwVersion_, nullptr, this, nullptr);
  QObject::disconnect(dialog_, nullptr, this, nullptr);
}

QWidget* ParameterPanel::ParentFor(std::string_view group) {
  if (group.empty()) return this;
  return controls_.at(std::string(group));
}

QWidget* ParameterPanel::Control(std::string_view name) const {
  auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second;
}

void ParameterPanel::Build() {
  const auto place = [this](QWidget* w, std::string_view name, int fontPt = kFontPt) {
    w->setObjectName(Q(name));
    controls_.emplace(std::string(name), w);
    if (const Place* p = FindPlace(name)) scaler_.Add(w, p->rect, fontPt);
  };

  for (const panel::GroupDef& g : panel::Groups()) {
    QWidget* parent = this;
    auto* box = new QGroupBox(Q(g.caption), parent);
    place(box, g.name);
  }

  for (const panel::CaptionDef& c : panel::Captions()) {
    const Place* p = FindPlace(c.label);
    if (p == nullptr) continue;
    QLabel* label = nullptr;
    if (c.label == "PassLb") {
      auto* click = new ClickLabel(ParentFor(p->parent), Q(c.label), Q(c.caption));
      connect(click, &ClickLabel::Clicked, this, [this] { ShowFirmwareButton(true); });
      label = click;
    } else {
      label = new QLabel(Q(c.caption), ParentFor(p->parent));
    }
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    place(label, c.label);
  }
  // The calibration labels are shown in yellow.
  for (std::string_view name : panel::CalibrationControls(kModelKx2)) {
    if (auto* label = qobject_cast<QLabel*>(Control(name))) {
      label->setAutoFillBackground(true);
      SetBackground(label, kYellow);
    }
  }

  for (const panel::EditFieldDef& f : panel::EditFields()) {
    const Place* p = FindPlace(f.name);
    auto* edit = new QLineEdit(QStringLiteral("0"), ParentFor(p->parent));
    edit->setMaxLength(kFieldChars);
    edit->setAlignment(Qt::AlignRight);
    place(edit, f.name);
    const std::string name(f.name);
    connect(edit, &QLineEdit::returnPressed, this, [this, name] { FieldEntered(name); });
    edit->installEventFilter(this);
  }
  for (std::string_view name : panel::CalibrationControls(kModelKx2)) {
    if (auto* edit = qobject_cast<QLineEdit*>(Control(name))) edit->setStyleSheet(QStringLiteral("background: #FFFF00;"));
  }

  for (const panel::ListDef& l : panel::Lists()) {
    const Place* p = FindPlace(l.name);
    auto* list = new DropList(ParentFor(p->parent));
    for (std::string_view item : panel::ListItems(l.name)) list->addItem(Q(item));
    list->setCurrentIndex(-1);
    place(list, l.name);
    const std::string name(l.name);
    connect(list, &DropList::Chosen, this, [this, name](int item) { ListChosen(name, item); });
  }
  for (const char* name : {"OutputType1", "OutputType2"}) {
    Control(name)->setStyleSheet(QStringLiteral("QComboBox { background: #FFFF00; }"));
  }

  // KX3 key lists.
  for (int n = 0; n < 3; ++n) {
    const std::string name = "Pass" + std::to_string(n + 1);
    auto* list = new DropList(controls_.at("SecurityPL"));
    for (std::string_view item : panel::ListItems(name)) list->addItem(Q(item));
    place(list, name);
    connect(list, &DropList::DroppedDown, this, &ParameterPanel::KeyListDropped);
    connect(list, &DropList::ClosedUp, this, [this, n] { KeyListClosed(n); });
  }
  QStringList levels;
  for (std::string_view item : panel::ListItems("SLevel")) levels << Q(item);
  sLevel_ = new app::RadioGroup(QStringLiteral("SLevel"), QStringLiteral("Security Level"), levels,
                                controls_.at("SecurityPL"));
  place(sLevel_, "SLevel", kSmallFontPt);
  connect(sLevel_, &app::RadioGroup::Clicked, this, &ParameterPanel::LevelClicked);

  // Restore and clear.
  for (int which = 1; which <= 2; ++which) {
    const std::string name = "ClearBt" + std::to_string(which);
    auto* button = new QPushButton(which == 1 ? QStringLiteral("Restore Default Setting")
                                              : QStringLiteral("Clear PV Adjust Value "),
                                   controls_.at("AdjustBox"));
    place(button, name, kSmallFontPt);
    connect(button, &QPushButton::clicked, this, [this, which] { ClearClicked(which); });
  }

  // Password area.
  passEdit_ = new QLineEdit(this);
  passEdit_->setEchoMode(QLineEdit::Password);
  place(passEdit_, "PassEdit");
  connect(passEdit_, &QLineEdit::returnPressed, this, &ParameterPanel::PasswordEntered);
  fwVersion_ = new ClickLabel(this, QStringLiteral("FWVersion"), QStringLiteral("Firmware Version"));
  fwVersion_->setCursor(Qt::ArrowCursor);
  fwVersion_->setAlignment(Qt::AlignCenter);
  fwVersion_->setFrameShape(QFrame::Panel);
  fwVersion_->setFrameShadow(QFrame::Raised);
  SetBackground(fwVersion_, QColor(0xE0, 0xE0, 0xE0));
  place(fwVersion_, "FWVersion");
  fwVersion_->raise();
  connect(fwVersion_, &ClickLabel::DoubleClicked, this, [this] {
    ShowFirmwareButton(false);
    passEdit_->setFocus();
  });
}

void ParameterPanel::Apply() {
  applying_ = true;
  for (const auto& [name, look] : model_.looks()) {
    QWidget* w = Control(name);
    if (w == nullptr) continue;
    w->setVisible(look.visible);
    w->setEnabled(look.enabled);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      // Five characters are typed; a longer value shown ("- 10.0") is not cut.
      // A field the user is typing into keeps the typed text until Enter,
      // Escape or leaving it.
      if (name != "PassEdit" && !edit->isModified() && edit->text() != Q(look.text)) {
        edit->setMaxLength(std::max(kFieldChars, static_cast<int>(look.text.size())));
        edit->setText(Q(look.text));
      }
    } else if (auto* list = qobject_cast<DropList*>(w)) {
      if (list->popupOpen()) continue;  // the user is choosing in it
      list->setCurrentIndex(look.item);
      // A list without an item may say why ("N/A").
      list->setPlaceholderText(Q(look.text));
    } else if (auto* group = qobject_cast<app::RadioGroup*>(w)) {
      group->SetItemIndex(look.item);
    } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
      box->setTitle(Q(look.text));
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
      if (!look.text.empty()) label->setText(Q(look.text));
    }
  }
  // The mode box for the control mode in front.
  if (QWidget* front = Control(model_.modeBox())) front->raise();
  applying_ = false;
}

panel::PanelInput ParameterPanel::Input() const {
  panel::PanelInput in;
  const int d = engine_.SelectedDevice();
  if (d >= 0 && d < kMonitorDevices) {
    const MonitorDevice& dev = engine_.Device(d);
    in.model = dev.model;
    in.decimalPoint = dev.decimalPoint;
    in.rec = dev.rec;
  }
  in.factoryCodeTyped = passEdit_->text().toStdString() == panel::kFactoryCode;
  return in;
}

panel::DeviceContext ParameterPanel::Context() const {
  const panel::PanelInput in = Input();
  return {in.model, in.decimalPoint, panel::AccessFor(in.model, in.rec)};
}

void ParameterPanel::PageRead(int type, const RegBlock& block, std::span<const std::uint16_t> words) {
  model_.FillPage(type, block, words, Input());
  Apply();
}

void ParameterPanel::LayoutPanel() {
  const panel::PanelInput in = Input();
  model_.Layout(in);
  if (in.model == kModelKx3) model_.ShowSecurity(in.rec.security, engine_.levelWriteOn(), levelChosen_);
  rememberedKeys_ = {model_.Look("Pass1").item, model_.Look("Pass2").item, model_.Look("Pass3").item};
  Apply();
  ++layoutCount_;
  emit LaidOut();
}

void ParameterPanel::HideCalibration() {
  model_.ShowCalibration(Input().model, false);
  Apply();
}

void ParameterPanel::SecurityChanged(int device) {
  if (device != engine_.SelectedDevice()) return;
  // At status poll 7 the level check runs first (SecurityPoll) and refreshes
  // the display after it, so the level the user picked is checked.
  if (engine_.poll().type == RequestType::Security && engine_.poll().device == device) return;
  RefreshSecurity(device);
}

void ParameterPanel::RecordChanged(int device) {
  if (device != engine_.SelectedDevice()) return;
  const bool editable = model_.editable();
  const bool sv = model_.Look("SV").enabled;
  const bool at = model_.Look("AT").enabled;
  model_.ApplyAccess(Input());
  if (model_.editable() != editable || model_.Look("SV").enabled != sv || model_.Look("AT").enabled != at) Apply();
}

void ParameterPanel::RefreshSecurity(int device) {
  const MonitorDevice& dev = engine_.Device(device);
  if (dev.model != kModelKx3) return;
  const bool levelWrite = engine_.levelWriteOn();
  model_.ShowSecurity(dev.rec.security, levelWrite, levelChosen_);
  if (!levelWrite) {
    rememberedKeys_ = {model_.Look("Pass1").item, model_.Look("Pass2").item, model_.Look("Pass3").item};
  }
  Apply();
}

void ParameterPanel::SecurityPoll(int device) {
  const MonitorDevice& dev = engine_.Device(device);
  const panel::LevelCheck check = panel::CheckSecurityLevel(sLevel_->ItemIndex(), dev.rec.security, dev.requestCount);
  switch (check.kind) {
    case panel::LevelCheck::Kind::AskKey:
      // The dialog already open keeps the register it was opened for; the
      // chosen level stays shown until it closes.
      if (!dialog_->isVisible()) {
        dialogRegister_ = check.reg;
        dialog_->Ask();
      }
      break;
    case panel::LevelCheck::Kind::LockWrite:
      engine_.Handle(monitor_event::QueueWrite{check.reg, check.value, false, true});
      engine_.Handle(monitor_event::LevelWrite{true});
      levelChosen_ = false;
      break;
    case panel::LevelCheck::Kind::None:
      levelChosen_ = false;
      break;
  }
  RefreshSecurity(device);
}

void ParameterPanel::LevelClicked(int item) {
  // Shown as picked until the check at the next security poll has acted on it.
  model_.SetItem("SLevel", item);
  levelChosen_ = true;
}

void ParameterPanel::KeyListDropped() { engine_.Handle(monitor_event::LevelWrite{true}); }

void ParameterPanel::KeyListClosed(int n) {
  auto* list = qobject_cast<QComboBox*>(Control("Pass" + std::to_string(n + 1)));
  const auto index = static_cast<std::size_t>(n);
  if (list->currentIndex() != rememberedKeys_[index]) {
    rememberedKeys_[index] = list->currentIndex();
    // Shown while the key is asked and written; a dismissed dialog or the
    // controller's answer shows its own state again.
    model_.SetItem(list->objectName().toStdString(), list->currentIndex());
    dialogRegister_ = static_cast<std::uint16_t>(kKx3KeyChangeFirst + n);
    dialog_->Ask();
  } else {
    engine_.Handle(monitor_event::LevelWrite{false});
  }
}

void ParameterPanel::KeyEntered(std::uint16_t key) {
  levelChosen_ = false;
  if (dialogRegister_ == 0) return;
  engine_.Handle(monitor_event::QueueWrite{dialogRegister_, key, false, true});
  engine_.Handle(monitor_event::LevelWrite{true});
}

void ParameterPanel::KeyDismissed() {
  levelChosen_ = false;
  engine_.Handle(monitor_event::LevelWrite{false});
  if (ValidDevice(engine_.SelectedDevice())) RefreshSecurity(engine_.SelectedDevice());
}

void ParameterPanel::ShowProgramList(bool shown, int mode) {
  if (shown) model_.SetItem("ProgDisp", mode);
  model_.SetShown("SV", !shown);
  model_.SetShown("ProgDisp", shown);
  Apply();
}

bool ParameterPanel::SvFieldShown() const { return model_.Look("SV").visible; }

void ParameterPanel::Act(const panel::PanelAction& action) {
  using K = panel::PanelAction::Kind;
  switch (action.kind) {
    case K::Write:
      engine_.Handle(monitor_event::QueueWrite{action.reg, action.value, action.unlock});
      break;
    case K::Refresh:
      engine_.Handle(monitor_event::Refresh{});
      break;
    case K::Refused:
      emit StatusText(Q(Text(Msg::IllegalOnWrongModel)));
      break;
    case K::SetDecimalPoint:
      engine_.Handle(monitor_event::DecimalPoint{engine_.SelectedDevice(), action.value});
      break;
    case K::None:
      break;
  }
}

void ParameterPanel::FieldEntered(const std::string& name) {
  auto* edit = qobject_cast<QLineEdit*>(Control(name));
  // Shown until the next read, which then replaces it.
  model_.SetText(name, edit->text().toStdString());
  edit->setModified(false);
  Act(panel::EnterField(name, edit->text().toStdString(), Context()));
}

void ParameterPanel::RestoreField(const std::string& name) {
  auto* edit = qobject_cast<QLineEdit*>(Control(name));
  if (edit == nullptr || !edit->isModified()) return;
  edit->setText(Q(model_.Look(name).text));  // clears the modified flag
}

bool ParameterPanel::eventFilter(QObject* watched, QEvent* event) {
  // Only the parameter fields are watched.
  const auto name = [watched] { return watched->objectName().toStdString(); };
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    RestoreField(name());
    return true;
  }
  if (event->type() == QEvent::FocusOut) {
    // Leaving the field restores it; another window or a menu coming up does not.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) RestoreField(name());
  }
  return QWidget::eventFilter(watched, event);
}

void ParameterPanel::ListChosen(const std::string& name, int item) {
  if (applying_) return;
  const panel::PanelAction action = panel::ChooseItem(name, item, Context());
  // A written choice is shown until the next read; a refused one goes back.
  if (action.kind != panel::PanelAction::Kind::Refused) model_.SetItem(name, item);
  Act(action);
  Apply();
}

void ParameterPanel::ClearClicked(int which) {
  const Msg question = which == 1 ? Msg::ConfirmRestoreDefault : Msg::ConfirmClearFactory;
  auto* box = new QMessageBox(QMessageBox::Question, window()->windowTitle(), Q(Text(question)),
                              QMessageBox::Ok | QMessageBox::Cancel, this);
  box->setObjectName(QStringLiteral("ClearConfirm"));
  app::SetSafeDefault(*box);
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QMessageBox::finished, this, [this, which](int result) {
    if (result == QMessageBox::Ok) Act(panel::ClearButton(which, Context()));
  });
  box->open();
}

void ParameterPanel::PasswordEntered() {
  const std::string text = passEdit_->text().toStdString();
  const panel::PanelInput in = Input();
  switch (panel::ParsePassword(text)) {
    case panel::PasswordCommand::Factory:
      if (in.model == kModelKx3 || in.rec.comWrite == 1) {
        engine_.Handle(monitor_event::FactoryMode{true});
        model_.SetSecurityVisible(false);
      }
      break;
    case panel::PasswordCommand::ProbeOn:
      emit Diagnostics(true);
      break;
    case panel::PasswordCommand::ProbeOff:
      emit Diagnostics(false);
      break;
    case panel::PasswordCommand::Other:
      engine_.Handle(monitor_event::FactoryMode{false});
      model_.ShowCalibration(in.model, false);
      // The security group belongs to a KX3 only.
      model_.SetSecurityVisible(in.model == kModelKx3);
      break;
  }
  Apply();
  ShowFirmwareButton(true);
}

void ParameterPanel::ShowFirmwareButton(bool shown) {
  // Put back, the button lies in front of the password label and field; put
  // aside, it is hidden, so nothing of it shows around or through them.
  model_.SetShown("FWVersion", shown);
  Apply();
  if (shown) fwVersion_->raise();
}

}  // namespace kx::monitor
