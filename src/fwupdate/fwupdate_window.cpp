#include "fwupdate/fwupdate_window.h"

namespace kx::fwupdate {

FwUpdateWindow::FwUpdateWindow(Session& session, SecondPortRouting& port, QWidget* parent)
    : QDialog(parent), session_(session), port_(port) {
  setObjectName("FWUpdate");
  setWindowTitle("KX2/KX3 Update Program");
  setModal(true);
  resize(450, 320);
}

FwUpdateWindow::~FwUpdateWindow() {
  // Closing the window releases the second port if the update still holds it.
  port_.firmware.answer = nullptr;
  if (port_.Port().Open() && session_.lineOwner == LineOwner::Firmware) {
    session_.lineOwner = LineOwner::Free;
    port_.Close();
  }
}

}  // namespace kx::fwupdate
