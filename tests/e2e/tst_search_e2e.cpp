// The bus search against simulated controllers on a network serial line
// (kxsim --listen, our RFC 2217 port), where every line setting is matched
// exactly and line timing is on: a narrowed search finds a KX1 that answers
// only under 19200 7N2 ASCII and a KX2 that answers only under 19200 8N2 RTU,
// and lists each with the settings it answered under.
#include <QtTest>

#include <memory>

#include "core/comset/bus_search.h"
#include "core/routing/main_routing.h"
#include "core/line/session.h"
#include "serial/port_map.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"

class TstSearchE2e : public QObject {
  Q_OBJECT
 private slots:
  void findsTwoControllersUnderTheirOwnFormats();
};

void TstSearchE2e::findsTwoControllersUnderTheirOwnFormats() {
  kx::test::KxsimProcess sim;
  QVERIFY(sim.Start(KXSIM_PATH, {"--listen", "127.0.0.1:0", "--timing", "kx1@19:19200-7N2-ascii",
                                 "kx2@26:19200-8N2-rtu"}));
  const std::string url = sim.ListenUrl();
  QVERIFY2(!url.empty(), sim.output().c_str());

  kx::Session session;
  kx::serial::ConfigurePorts(session, kx::test::OnePort(1, url));
  session.params = kx::PortParams{1, 9600, 7, 1, 1, false};
  std::unique_ptr<kx::ComPort> port = session.makePort();
  kx::MainPortRouting routing(session, *port);
  std::vector<std::string> errors;
  kx::BusSearch search(session, routing,
                       kx::BusSearch::Hooks{nullptr, [&](const std::string& e) { errors.push_back(e); }});
  routing.setup.answerStep = [&](const kx::Answer& answer) { search.Handle(kx::search_event::Answered{answer}); };

  // Range 11H~20H at 19200 bit/s, no parity, 2 stop bits; data length and form
  // open: 7-bit ASCII, 8-bit ASCII and 8-bit RTU, 16 addresses each.
  kx::SearchPresets presets;
  presets.addr = 2;
  presets.baud = 2;
  presets.parity = kx::kParityNone;
  presets.stop = kx::kStop2;
  search.Handle(kx::search_event::Start{1, presets, {}});
  QVERIFY(search.Searching());
  QCOMPARE(search.total(), 48);
  QTRY_VERIFY_WITH_TIMEOUT(!search.Searching(), 20000);
  QVERIFY(errors.empty());

  QCOMPARE(search.view().status, std::string("Search Completed,Found 2 items"));
  QCOMPARE(search.probeCount(), 48);
  const auto& hits = search.hits();
  QCOMPARE(hits.size(), std::size_t{2});
  QCOMPARE(hits[0].addressText, std::string("13H"));
  QCOMPARE(hits[0].protocolText, std::string("19200,7,N,2,ASCII"));
  QCOMPARE(hits[1].addressText, std::string("1AH"));
  QCOMPARE(hits[1].protocolText, std::string("19200,8,N,2,RTU  "));
  QVERIFY(!port->IsOpen());
  QCOMPARE(session.lineOwner, kx::LineOwner::Free);
}

QTEST_GUILESS_MAIN(TstSearchE2e)
#include "tst_search_e2e.moc"
