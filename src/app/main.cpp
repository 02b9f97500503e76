// Start-up: the application, the shared session with the serial ports of this
// machine, the windows in their order (the ramp/soak editor wired to the
// monitor), and the event loop. An error during
// start-up is shown in the standard error box and ends the program; an error
// in an event handler is shown the same way and the program goes on.
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <exception>
#include <memory>

#include "app/kx_application.h"
#include "app/main_window.h"
#include "app/ramp_editor_link.h"
#include "widgets/message_box.h"
#include "core/line/session.h"
#include "monitor/monitor_window.h"
#include "serial/port_map.h"

int main(int argc, char** argv) {
  kx::app::KxApplication app(argc, argv);
  kx::Session session;
  std::unique_ptr<kx::app::MainWindow> mainForm;
  std::unique_ptr<kx::monitor::MonitorWindow> monitor;
  try {
    kx::serial::ConfigurePorts(session);
    mainForm = std::make_unique<kx::app::MainWindow>(session);
    monitor = std::make_unique<kx::monitor::MonitorWindow>(session);
    mainForm->SetMonitorWindow(monitor.get());
    // The ramp/soak editor: opened from the monitor's menu, its transfers run on the monitor's engine.
    kx::app::AttachRampEditor(*monitor);
    // Maximised; the geometry is set as well for desktops without a window
    // manager, where a maximise request alone does nothing.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      mainForm->setGeometry(screen->availableGeometry());
    mainForm->showMaximized();
    mainForm->activateWindow();
  } catch (const std::exception& e) {
    kx::app::ShowErrorBox(nullptr, QString::fromLocal8Bit(e.what()));
    return 1;
  }
  const int result = app.exec();
  monitor.reset();
  mainForm.reset();
  return result;
}
