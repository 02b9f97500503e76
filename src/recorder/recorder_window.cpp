#include "recorder/recorder_window.h"

namespace kx::recorder {

RecorderWindow::RecorderWindow(Session& session, SecondPortRouting& port, QWidget* parent)
    : QDialog(parent), session_(session), port_(port) {
  setObjectName("PRecord");
  setWindowTitle("Ostra KX Series Recorder Program");
  setModal(true);
  resize(808, 560);
}

RecorderWindow::~RecorderWindow() {
  // Closing the window releases the second port if the recorder still holds it.
  port_.recorder.awaitingAnswer = false;
  port_.recorder.answer = nullptr;
  if (port_.Port().Open() && session_.lineOwner == LineOwner::Recorder) {
    session_.lineOwner = LineOwner::Free;
    port_.Close();
  }
}

}  // namespace kx::recorder
