// What a window test sets up afresh for each test function, as a base of the
// test class: a temporary working folder, a session working in it whose ports
// are FakePorts made on demand (listed in ports_), a main port with the main
// window's routing when the window needs one (Route), and the window under
// test. Start in init(), Stop in cleanup(). Header-only, Qt Widgets.
#pragma once

#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#include "core/line/session.h"
#include "core/routing/main_routing.h"
#include "support/fake_port.h"
#include "support/modal_watch.h"
#include "support/widget_access.h"

namespace kx::test {

template <class Window>
class WindowFixture {
 protected:
  // A fresh session in the folder; what the last test left goes first.
  void Start() {
    Stop();
    session_ = std::make_unique<Session>();
    session_->workDir = dir_.path().toStdString();
    session_->makePort = FakePortFactory(ports_);
  }
  // A main port routed as the main window routes it.
  void Route() {
    port_ = std::make_unique<FakePort>();
    routing_ = std::make_unique<MainPortRouting>(*session_, *port_);
  }
  // Shows the window and waits until it is on the screen.
  void ShowWindow() {
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }
  // Drops watches still waiting, then the window before what it uses.
  void Stop() {
    CancelModalWatches();
    window_.reset();
    routing_.reset();
    port_.reset();
    ports_.clear();
    session_.reset();
  }

  template <class T>
  T* Get(const char* name) {
    return Child<T>(*window_, name);
  }

  QTemporaryDir dir_;
  std::unique_ptr<Session> session_;
  std::vector<FakePort*> ports_;  // ports the session made, in order of creation
  std::unique_ptr<FakePort> port_;  // the main port (Route)
  std::unique_ptr<MainPortRouting> routing_;
  std::unique_ptr<Window> window_;
};

}  // namespace kx::test
