#include "core/monitor/monitor_menus.h"

#include "core/device/regmap.h"

namespace kx {

MonitorMenus MenusFor(const MenuFacts& f) {
  MonitorMenus m;
  m.file = m.parameter = m.view = f.running;
  m.settingChecked = f.running;
  if (f.running && f.selectedDetailRead) {
    switch (f.selectedModel) {
      case kModelKx1:
        m.upload = true;
        break;
      case kModelKx2:
        m.upload = true;
        m.rampSoak = f.selectedComWrite == 1;
        break;
      case kModelKx3:
        m.upload = m.rampSoak = Kx3UploadAllowed(f.selectedSecurityMode);
        break;
      default:
        break;
    }
  }
  m.saveAs = m.download = m.writeAll = f.bufferValid;
  m.save = f.bufferValid && f.fileChosen;
  return m;
}

}  // namespace kx
