// The parameter panel of the monitor as data and rules: its groups, fields,
// lists, captions and list items; which register each field shows and writes on
// each model and at which scale; how the panel is filled from the parameter
// pages, laid out for the model, control mode and output configuration, and
// made editable or not; what a typed entry, a chosen list item, the clear
// buttons and the password field turn into; and the KX3 security display.
//
// PanelModel holds the look of every control by its name (the window's
// objectNames); the window copies it onto its widgets and turns the actions
// into engine calls. No widgets here.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/device/regmap.h"

namespace kx::panel {

// Display code placeholder in the tables: the device's decimal-point code.
inline constexpr int kCodeDp = -1;

// How a typed value becomes a register value.
enum class Scale : std::uint8_t {
  Tenths,      // parsed with one decimal, sent as is
  Whole,       // parsed with one decimal, sent divided by 10 (toward zero)
  Hundredths,  // parsed with two decimals (`Coeff`)
};

// Where a field lives on one model; reg 0 means the model has no such field.
struct FieldReg {
  std::uint16_t reg = 0;
  Scale scale = Scale::Tenths;
  int code = kCodeDp;    // display code of the register value
  bool times10 = false;  // KX1 whole percentages shown in tenths (value x 10)
};

struct EditFieldDef {
  std::string_view name;
  FieldReg kx1;
  FieldReg kx2;  // KX2, KX3 and unknown models
  bool factory = false;  // factory-protected: the unlock write goes first
  bool fromRecord = false;  // shown from the device record (outputs), not a page
};

struct ListDef {
  std::string_view name;
  std::uint16_t kx1 = 0;  // register per model; 0: the list is not used there
  std::uint16_t kx2 = 0;
  std::uint16_t kx3 = 0;
  bool factory = false;
};

std::span<const EditFieldDef> EditFields();
std::span<const ListDef> Lists();
const EditFieldDef* FindField(std::string_view name);
const ListDef* FindList(std::string_view name);
// Item texts of a list (`CtrlSet`, `InputA`, ..., `Pass1`, `SLevel`); empty for others.
std::span<const std::string_view> ListItems(std::string_view list);

// A label with its caption and the control it names.
struct CaptionDef {
  std::string_view label;
  std::string_view caption;
  std::string_view control;
};
std::span<const CaptionDef> Captions();

struct GroupDef {
  std::string_view name;
  std::string_view caption;
};
std::span<const GroupDef> Groups();

// The calibration controls, shown in factory mode (KX1 lacks the last six).
std::span<const std::string_view> CalibrationControls(std::uint8_t model);

// KX1 reads and writes its own column; KX2, KX3 and unknown models the other.
constexpr bool UsesKx1Column(std::uint8_t model) { return model == kModelKx1; }
const FieldReg& FieldRegOf(const EditFieldDef& def, std::uint8_t model);
std::uint16_t ListRegOf(const ListDef& def, std::uint8_t model);

// What the user may change on the selected device, from its record alone: the
// panel enables its controls by it and queues a write only when it allows it,
// so an enabled control is always written. KX1 and KX2 by their com-write flag;
// a KX3 by its security mode (it reports no com-write flag): "Unlock All"
// everything, "Read All, SV,AT" the set value and auto-tuning, "PV,SV" the set
// value, "All Lock" nothing.
struct Access {
  bool editable = false;  // the parameter groups (and KX3 `Out2Sel`)
  bool sv = false;        // `SV`
  bool at = false;        // `AT`
  friend bool operator==(const Access&, const Access&) = default;
};
Access AccessFor(std::uint8_t model, const DeviceRecord& rec);
// Whether `access` lets control `name` be written (`ComWrite` always can).
bool Permits(const Access& access, std::string_view name);
// Values of the device record that the parameter pages hold as well (the
// com-write flag, heat/cool and the KX3 output functions), taken from a page
// just read: the record then follows the pages the panel shows.
void RecordFromPage(std::uint8_t model, const RegBlock& block, std::span<const std::uint16_t> words,
                    DeviceRecord& rec);

// ---- Actions ----

struct PanelAction {
  enum class Kind : std::uint8_t {
    None,             // nothing happens
    Write,            // queue reg := value (with the unlock write when `unlock`)
    Refresh,          // nothing written; the pages are read again
    Refused,          // "illegal function on wrong modle" in the status line
    SetDecimalPoint,  // KX3 `Pointer`: the device's decimal-point code := value
  };
  Kind kind = Kind::None;
  std::uint16_t reg = 0;
  std::uint16_t value = 0;
  bool unlock = false;
  friend bool operator==(const PanelAction&, const PanelAction&) = default;
};

// What the selected device is, for the entry and list rules.
struct DeviceContext {
  std::uint8_t model = kModelKx2;
  int decimalPoint = 1;
  Access access;  // AccessFor()
};

// The typed number in register units for a field. Fields shown with the
// device's decimal-point code are read with that many decimals (rounded whole
// units count as tenths), so what is typed means what the field shows; the
// others with one decimal (two for `Coeff`). kParseError when not a number.
int ParseEntry(const EditFieldDef& def, std::string_view text, int decimalPoint);

// Enter in an edit field.
PanelAction EnterField(std::string_view field, std::string_view text, const DeviceContext& dev);
// A list closed up on `item` (chosen by the user in its open list).
PanelAction ChooseItem(std::string_view list, int item, const DeviceContext& dev);
// `ClearBt1` (restore default, which = 1) or `ClearBt2` (clear PV adjustment,
// which = 2) after the user confirmed.
PanelAction ClearButton(int which, const DeviceContext& dev);

// Enter in `PassEdit`.
enum class PasswordCommand : std::uint8_t { Factory, ProbeOn, ProbeOff, Other };
inline constexpr std::string_view kFactoryCode = "QZW";
PasswordCommand ParsePassword(std::string_view text);

// ---- KX3 security ----

struct SecurityView {
  bool levelEnabled = false;          // `SLevel` enabled
  int levelItem = 0;                  // `SLevel` item
  std::array<int, 3> keyItems{};      // `Pass1`..`Pass3`: 0 "Disable", 1 "Enable"
};
SecurityView SecurityDisplay(const Kx3Security& s);

// The security level check at status poll 7 of the selected KX3.
struct LevelCheck {
  enum class Kind : std::uint8_t {
    None,
    AskKey,     // write request register := reg; show the password dialog
    LockWrite,  // queue reg := value as a level write (any non-key locks)
  };
  Kind kind = Kind::None;
  std::uint16_t reg = 0;
  std::uint16_t value = 0;
  friend bool operator==(const LevelCheck&, const LevelCheck&) = default;
};
LevelCheck CheckSecurityLevel(int chosenItem, const Kx3Security& s, std::uint32_t requestCount);

// The password dialog's field: what stays after a change (letters in upper
// case; anything but 0-9 and A-F empties it), and the key it holds once it has
// four digits.
std::string FilterKeyText(std::string_view text);
std::optional<std::uint16_t> KeyValue(std::string_view text);

// ---- The panel's look ----

struct ControlLook {
  bool visible = true;
  bool enabled = true;
  std::string text;  // edit fields and labels
  int item = -1;     // lists: chosen item, -1 none
  friend bool operator==(const ControlLook&, const ControlLook&) = default;
};

// What the panel rules read about the selected device.
struct PanelInput {
  std::uint8_t model = kModelKx2;
  int decimalPoint = 1;
  DeviceRecord rec;
  bool factoryCodeTyped = false;  // `PassEdit` holds the factory access code
};

class PanelModel {
 public:
  PanelModel();

  // Every control the rules touch, by name: groups, fields, lists, labels.
  const ControlLook& Look(std::string_view name) const;
  const std::map<std::string, ControlLook, std::less<>>& looks() const { return looks_; }

  // A parameter or factory page (request type 10..14, 20, 21) was read.
  void FillPage(int type, const RegBlock& block, std::span<const std::uint16_t> words,
                const PanelInput& in);
  // Layout rules and access rules (after page 14, and at the end of a poll
  // cycle for a KX3 below security mode 4).
  void Layout(const PanelInput& in);
  // Shows or hides the calibration controls for the model.
  void ShowCalibration(std::uint8_t model, bool shown);
  bool calibrationShown() const { return calibrationShown_; }
  // A list choice the controller has not answered yet stays shown.
  void SetItem(std::string_view list, int item);
  void SetText(std::string_view field, std::string text);
  // KX3 security group refresh. While a level write is in progress nothing
  // but the level's enabled state changes; while the user's chosen level
  // waits for its check or key (`levelChosen`) the level keeps that choice.
  void ShowSecurity(const Kx3Security& s, bool levelWrite, bool levelChosen = false);
  // The access rules alone (enabled states), from the device record; run by
  // Layout and whenever the record changes.
  void ApplyAccess(const PanelInput& in);
  // The security group after the password field: shown for a KX3 unless it
  // holds the factory code.
  void SetSecurityVisible(bool visible);
  // Shows or hides one control (the `SV` field and `ProgDisp` trade places
  // while a program runs).
  void SetShown(std::string_view name, bool visible);
  // The groups sharing the place of the control-mode boxes: the one in front.
  std::string_view modeBox() const { return modeBox_; }
  // Menu items set with the layout.
  bool rampSoakMenu() const { return rampSoakMenu_; }
  bool uploadMenu() const { return uploadMenu_; }
  bool editable() const { return editable_; }

 private:
  ControlLook& At(std::string_view name);
  void SetVisible(std::span<const std::string_view> names, bool visible);
  void ControlModeLayout(int mode);
  void ShowNotAvailable();

  std::map<std::string, ControlLook, std::less<>> looks_;
  std::string modeBox_ = "PIDBox";
  int controlMode_ = 0;
  bool calibrationShown_ = false;
  bool rampSoakMenu_ = false;
  bool uploadMenu_ = false;
  bool editable_ = false;
};

}  // namespace kx::panel
