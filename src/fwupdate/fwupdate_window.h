// The firmware update window for KX2 and KX3 controllers (shown modally from F/W UPDATE).
#pragma once

#include <QDialog>

#include "core/routing/main_routing.h"
#include "core/line/session.h"

namespace kx::fwupdate {

class FwUpdateWindow : public QDialog {
  Q_OBJECT

 public:
  FwUpdateWindow(Session& session, SecondPortRouting& port, QWidget* parent = nullptr);
  ~FwUpdateWindow() override;

 private:
  Session& session_;
  SecondPortRouting& port_;
};

}  // namespace kx::fwupdate
