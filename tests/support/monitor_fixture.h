// The monitor window on the offscreen platform over the simulated bus, for the
// monitor's window tests: the window's port is a FakePort on which kxsim's
// controllers answer (SimBus, 9600 7E1 ASCII), on the fake tick clock.
// Header-only, Qt Widgets.
#pragma once

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "monitor/monitor_window.h"
#include "support/fake_port.h"
#include "support/sim_bus.h"
#include "support/widget_access.h"

namespace kx::test {

class MonitorFixture {
 public:
  MonitorFixture() {
    session.params = PortParams{1, 9600, 7, 1, 1, false};
    session.makePort = [this]() -> std::unique_ptr<ComPort> {
      auto port = std::make_unique<FakePort>();
      fake = port.get();
      return port;
    };
    window = std::make_unique<monitor::MonitorWindow>(session);
    bus = std::make_unique<SimBus>(*fake);
    window->resize(1280, 900);
    window->show();
  }

  // Adds a controller written as on kxsim's command line without its format
  // ("kx2@7", options after it: ",fault=noanswer"). Its process is held, so
  // the values a test gives its registers stay as given.
  kxsim::Controller& Add(const std::string& modelAndAddress, const std::string& options = {}) {
    kxsim::Controller& c = bus->Add(modelAndAddress + ":9600-7E1-ascii" + options);
    c.HoldProcess(true);
    return c;
  }
  static void Set(kxsim::Controller& c, std::initializer_list<std::pair<std::uint16_t, std::uint16_t>> values) {
    for (const auto& [reg, value] : values) c.SetRegister(reg, value);
  }
  kxsim::Controller& Controller(int address) { return bus->Controller(address); }

  // Lets n exchanges pass: runs the bus until the engine has written n more
  // requests (a silent controller's after its time-out), or the port closed.
  void Run(int n) {
    const std::size_t target = fake->written.size() + static_cast<std::size_t>(n);
    bus->RunUntil([&] { return fake->written.size() >= target || !fake->IsOpen(); }, 200 * n);
  }

  // Connects tile `tile` to the controller at `address`, as its Connect button does.
  void Connect(int tile, int address) {
    w<QSpinBox>(QStringLiteral("ComAddr%1").arg(tile))->setValue(address);
    w<QPushButton>(QStringLiteral("RunBt%1").arg(tile))->click();
  }
  // Selects tile `tile` with a click on its address label.
  void Select(int tile) { w<monitor::ClickLabel>(QStringLiteral("Adr%1Lb").arg(tile))->Clicked(); }

  template <typename T = QWidget>
  T* w(const QString& name) {
    return Child<T>(*window, name.toLatin1().constData());
  }
  template <typename T = QWidget>
  T* w(const char* name) {
    return Child<T>(*window, name);
  }
  QString text(const char* name) { return w<QLabel>(name)->text(); }
  QAction* action(const char* name) { return window->findChild<QAction*>(QString::fromLatin1(name)); }

  Session session;
  FakePort* fake = nullptr;
  std::unique_ptr<monitor::MonitorWindow> window;
  std::unique_ptr<SimBus> bus;
};

}  // namespace kx::test
