// The controller protocol change against a simulated KX3 on a network serial
// line (kxsim --listen, our RFC 2217 port, line timing on): the KX3 moves from
// address 1, 9600 7E1 ASCII to address 2, 19200 8E1 RTU; afterwards probes
// under the new settings find it and probes under the old settings do not.
// With automatic synchronisation its two followers take addresses 3 and 4 in
// the same format.
#include <QtTest>

#include <memory>

#include "core/comset/bus_search.h"
#include "core/routing/main_routing.h"
#include "core/comset/protocol_change.h"
#include "core/line/session.h"
#include "serial/port_map.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"

namespace {

constexpr kx::PresetFormat kOld{0, 1, 0, 0, 0};  // 9600 7E1 ASCII
constexpr kx::PresetFormat kNew{1, 1, 1, 0, 1};  // 19200 8E1 RTU

}  // namespace

class TstProtocolE2e : public QObject {
  Q_OBJECT
 private slots:
  void movesAKx3ToNewAddressAndFormat_data();
  void movesAKx3ToNewAddressAndFormat();
};

void TstProtocolE2e::movesAKx3ToNewAddressAndFormat_data() {
  QTest::addColumn<bool>("sync");
  QTest::newRow("change only") << false;
  QTest::newRow("change and synchronise followers") << true;
}

void TstProtocolE2e::movesAKx3ToNewAddressAndFormat() {
  QFETCH(bool, sync);
  kx::test::KxsimProcess sim;
  QVERIFY(sim.Start(KXSIM_PATH, {"--listen", "127.0.0.1:0", "--timing",
                                 sync ? "kx3@1:9600-7E1-ascii+2" : "kx3@1:9600-7E1-ascii"}));
  const std::string url = sim.ListenUrl();
  QVERIFY2(!url.empty(), sim.output().c_str());

  kx::Session session;
  kx::serial::ConfigurePorts(session, kx::test::OnePort(1, url));
  session.settingsWord = 256 + 0x24;  // COM1, 9600, even, 7 bits, 1 stop bit, ASCII
  session.params = kx::PortParams{1, 9600, 7, 1, 1, false};
  std::unique_ptr<kx::ComPort> port = session.makePort();
  kx::MainPortRouting routing(session, *port);

  std::vector<int> notices;
  std::vector<std::string> errors;
  kx::ProtocolChange change(session, routing,
                            kx::ProtocolChange::Hooks{nullptr,
                                                      [&](int code) {
                                                        notices.push_back(code);
                                                        QTimer::singleShot(0, [&] { change.Handle(kx::change_event::NoticeClosed{}); });
                                                      },
                                                      [&](const std::string& e) { errors.push_back(e); }});
  routing.setup.answerStep = [&](const kx::Answer& answer) { change.Handle(kx::change_event::Answered{answer}); };
  change.Handle(kx::change_event::Prepare{session.settingsWord});
  QCOMPARE(kx::PresetsFormat(change.order().presets), std::optional(kOld));
  kx::ChangeOrder order = change.order();
  order.afterAddress = 2;
  order.after = kNew;
  order.sync = sync;
  change.Handle(kx::change_event::Set{1, order});
  QTRY_VERIFY_WITH_TIMEOUT(change.state() == kx::ProtocolChange::State::Succeeded ||
                               change.state() == kx::ProtocolChange::State::Failed,
                           5000);
  QCOMPARE(change.status(), std::string("SET KX3 Protocol Success"));
  QVERIFY(errors.empty());
  QCOMPARE(notices, sync ? (std::vector<int>{252, 251}) : std::vector<int>{});
  QCOMPARE(change.order().beforeAddress, 2);
  QCOMPARE(kx::PresetsFormat(change.order().presets), std::optional(kNew));
  QVERIFY(!port->IsOpen());
  QCOMPARE(session.lineOwner, kx::LineOwner::Free);

  // Probes over addresses 1 to 16 under the new and under the old settings.
  kx::BusSearch search(session, routing, kx::BusSearch::Hooks{});
  routing.setup.answerStep = [&](const kx::Answer& answer) { search.Handle(kx::search_event::Answered{answer}); };
  kx::SearchPresets presets;
  presets.addr = 1;
  kx::SetPresetsToFormat(presets, kNew);
  search.Handle(kx::search_event::Start{1, presets, {}});
  QVERIFY(search.Searching());
  QTRY_VERIFY_WITH_TIMEOUT(!search.Searching(), 10000);
  std::vector<std::string> found;
  for (const auto& hit : search.hits()) found.push_back(hit.addressText);
  QCOMPARE(found, sync ? (std::vector<std::string>{"02H", "03H", "04H"}) : std::vector<std::string>{"02H"});
  QCOMPARE(search.hits()[0].protocolText, std::string("19200,8,E,1,  RTU"));

  kx::SetPresetsToFormat(presets, kOld);
  search.Handle(kx::search_event::Start{1, presets, {}});
  QVERIFY(search.Searching());
  QTRY_VERIFY_WITH_TIMEOUT(!search.Searching(), 10000);
  QCOMPARE(search.view().status, std::string("Search Completed,Found 0 items"));
}

QTEST_GUILESS_MAIN(TstProtocolE2e)
#include "tst_protocol_e2e.moc"
