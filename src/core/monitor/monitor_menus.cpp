#include "core/monitor/monitor_menus.h"

#include "core/monitor/transfer_rules.h"

namespace kx {

MonitorMenus MenusFor(const MenuFacts& f) {
  MonitorMenus m;
  m.file = m.parameter = m.view = f.running;
  m.settingChecked = f.running;
  const TransferFacts selected{f.running, f.selectedDetailRead, f.selectedModel, f.selectedSecurityMode,
                               f.selectedComWrite};
  m.upload = UploadOffered(selected);
  m.rampSoak = RampOffered(selected);
  m.saveAs = m.download = m.writeAll = f.bufferValid;
  m.save = f.bufferValid && f.fileChosen;
  return m;
}

}  // namespace kx
