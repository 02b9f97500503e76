// Telnet / COM Port Control Option codec: escaping, the stream decoder, the
// option's commands and option negotiation.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "core/line/rfc2217.h"

namespace kx::rfc2217 {
namespace {

using K = Item::Kind;

Item Data(Bytes b) { return Item{K::Data, 0, 0, std::move(b)}; }
Item Neg(std::uint8_t verb, std::uint8_t option) { return Item{K::Negotiation, verb, option, {}}; }
Item Sub(std::uint8_t option, Bytes b) { return Item{K::Subnegotiation, 0, option, std::move(b)}; }

std::vector<Item> DecodeAll(const Bytes& stream) {
  Decoder d;
  std::vector<Item> items;
  d.Feed(stream, items);
  return items;
}

// Feeding in two pieces at any cut gives the same items once adjacent data
// items are merged.
std::vector<Item> DecodeCut(const Bytes& stream, std::size_t cut) {
  Decoder d;
  std::vector<Item> items, merged;
  d.Feed(std::span(stream).first(cut), items);
  d.Feed(std::span(stream).subspan(cut), items);
  for (auto& item : items) {
    if (item.kind == K::Data && !merged.empty() && merged.back().kind == K::Data)
      merged.back().bytes.insert(merged.back().bytes.end(), item.bytes.begin(), item.bytes.end());
    else
      merged.push_back(item);
  }
  return merged;
}

TEST(Rfc2217Test, EscapeDoublesEveryIac) {
  EXPECT_EQ(Escape(Bytes{}), Bytes{});
  EXPECT_EQ(Escape(Bytes{1, 2, 0x0D, 0x0A}), (Bytes{1, 2, 0x0D, 0x0A}));
  EXPECT_EQ(Escape(Bytes{0xFF}), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(Escape(Bytes{0xFF, 0xFF, 0}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0}));

  Bytes all(256);
  std::iota(all.begin(), all.end(), 0);
  const auto items = DecodeAll(Escape(all));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].bytes, all);
}

TEST(Rfc2217Test, DecoderSplitsTheStreamInOrderAtAnyCut) {
  struct Case {
    const char* name;
    Bytes stream;
    std::vector<Item> expected;
  };
  const Case cases[] = {
      {"data", {'a', 'b'}, {Data({'a', 'b'})}},
      {"escaped iac", {1, 0xFF, 0xFF, 2}, {Data({1, 0xFF, 2})}},
      {"negotiation between data", {'x', 0xFF, kWill, 44, 'y'}, {Data({'x'}), Neg(kWill, 44), Data({'y'})}},
      {"baud reply", {0xFF, kSb, 44, 101, 0, 0, 0x25, 0x80, 0xFF, kSe}, {Sub(44, {101, 0, 0, 0x25, 0x80})}},
      {"iac inside subnegotiation", {0xFF, kSb, 44, 1, 0, 1, 0xFF, 0xFF, 0, 0xFF, kSe}, {Sub(44, {1, 0, 1, 0xFF, 0})}},
      {"nop and go-ahead dropped", {'a', 0xFF, 241, 'b', 0xFF, 249}, {Data({'a', 'b'})}},
      {"cut-off subnegotiation", {0xFF, kSb, 44, 3, 0xFF, kDo, 0, 'z'}, {Neg(kDo, 0), Data({'z'})}},
      {"empty subnegotiation", {0xFF, kSb, 0xFF, kSe, 'q'}, {Data({'q'})}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeAll(c.stream), c.expected) << c.name;
    for (std::size_t cut = 0; cut <= c.stream.size(); ++cut)
      EXPECT_EQ(DecodeCut(c.stream, cut), c.expected) << c.name << ", cut at " << cut;
  }
}

TEST(Rfc2217Test, OverlongSubnegotiationIsDroppedAndTheStreamGoesOn) {
  Bytes stream{0xFF, kSb, 44, 0};
  stream.insert(stream.end(), 1000, 'A');
  stream.insert(stream.end(), {0xFF, kSe, 'o', 'k'});
  EXPECT_EQ(DecodeAll(stream), std::vector<Item>{Data({'o', 'k'})});
}

TEST(Rfc2217Test, ComPortCommandsEncodeAndParseBack) {
  struct Case {
    Bytes wire;
    Command command;
    bool fromServer;
    std::uint32_t value;
  };
  const Case cases[] = {
      {ComPortRequest(Command::SetBaudrate, 9600), Command::SetBaudrate, false, 9600},
      {ComPortRequest(Command::SetBaudrate, 0x0001FF00), Command::SetBaudrate, false, 0x0001FF00},
      {ComPortRequest(Command::SetDatasize, 7), Command::SetDatasize, false, 7},
      {ComPortRequest(Command::SetParity, 3), Command::SetParity, false, 3},
      {ComPortRequest(Command::SetStopsize, 2), Command::SetStopsize, false, 2},
      {ComPortRequest(Command::SetControl, 1), Command::SetControl, false, 1},
      {ComPortRequest(Command::PurgeData, 1), Command::PurgeData, false, 1},
      {ComPortReply(Command::SetBaudrate, 38400), Command::SetBaudrate, true, 38400},
      {ComPortReply(Command::SetParity, 2), Command::SetParity, true, 2},
      {ComPortReply(Command::NotifyModemstate, 0xFF), Command::NotifyModemstate, true, 0xFF},
  };
  for (const auto& c : cases) {
    const auto items = DecodeAll(c.wire);
    ASSERT_EQ(items.size(), 1u);
    ASSERT_EQ(items[0].kind, K::Subnegotiation);
    EXPECT_EQ(items[0].option, kOptComPort);
    const auto msg = ParseComPort(items[0].bytes);
    ASSERT_TRUE(msg.has_value());
    EXPECT_EQ(msg->command, c.command);
    EXPECT_EQ(msg->fromServer, c.fromServer);
    EXPECT_EQ(msg->value, c.value);
  }
  // Exact bytes of two of them, value 0xFF escaped inside the subnegotiation.
  EXPECT_EQ(ComPortRequest(Command::SetBaudrate, 9600), (Bytes{0xFF, kSb, 44, 1, 0, 0, 0x25, 0x80, 0xFF, kSe}));
  EXPECT_EQ(ComPortReply(Command::SetBaudrate, 0xFF),
            (Bytes{0xFF, kSb, 44, 101, 0, 0, 0, 0xFF, 0xFF, 0xFF, kSe}));

  EXPECT_FALSE(ParseComPort(Bytes{}));
  EXPECT_FALSE(ParseComPort(Bytes{13, 1}));            // no such command
  EXPECT_FALSE(ParseComPort(Bytes{113, 1}));           // nor as a reply
  EXPECT_FALSE(ParseComPort(Bytes{1, 0, 0x25, 0x80})); // baud in 3 bytes
  EXPECT_FALSE(ParseComPort(Bytes{3}));                // parity without value
  const auto sig = ParseComPort(Bytes{100, 'k', 'x'});
  ASSERT_TRUE(sig);
  EXPECT_EQ(sig->raw, (Bytes{'k', 'x'}));
}

TEST(Rfc2217Test, NegotiatorAnswersOnlyChangesAndRefusesUnknownOptions) {
  struct Step {
    std::uint8_t verb, option;
    Bytes answer;
  };
  Negotiator n({kOptBinary, kOptComPort}, {kOptBinary});
  EXPECT_EQ(n.Start(), (Bytes{0xFF, kWill, 0, 0xFF, kWill, 44, 0xFF, kDo, 0}));
  EXPECT_EQ(n.Start(), Bytes{});  // offers already out
  const Step steps[] = {
      {kDo, 44, {}},                   // our offer accepted: no answer
      {kDo, 44, {}},                   // repeated: no answer
      {kWill, 0, {}},                  // our request accepted
      {kDo, kOptEcho, {0xFF, kWont, kOptEcho}},
      {kWill, kOptEcho, {0xFF, kDont, kOptEcho}},
      {kDont, 0, {}},                  // our binary offer refused
      {kWont, kOptEcho, {}},           // was never on
      {kDont, 44, {0xFF, kWont, 44}},  // switched off: acknowledged
      {kDo, 44, {0xFF, kWill, 44}},    // and on again
      {kWont, 0, {0xFF, kDont, 0}},
  };
  for (const auto& s : steps) EXPECT_EQ(n.Receive(s.verb, s.option), s.answer) << int(s.verb) << " " << int(s.option);
  EXPECT_TRUE(n.LocalEnabled(44));
  EXPECT_FALSE(n.LocalEnabled(0));
  EXPECT_TRUE(n.LocalRefused(0));
  EXPECT_FALSE(n.RemoteEnabled(0));
}

TEST(Rfc2217Test, ClientAndServerNegotiatorsSettleWithoutLooping) {
  Negotiator client({kOptBinary, kOptSuppressGoAhead, kOptComPort}, {kOptBinary, kOptSuppressGoAhead, kOptEcho});
  Negotiator server({kOptBinary, kOptSuppressGoAhead}, {kOptBinary, kOptSuppressGoAhead, kOptComPort});
  Bytes toServer = client.Start(), toClient = server.Start();
  int rounds = 0;
  while ((!toServer.empty() || !toClient.empty()) && ++rounds < 10) {
    Bytes nextToServer, nextToClient;
    auto deliver = [](Negotiator& to, const Bytes& wire, Bytes& answer) {
      Decoder d;
      std::vector<Item> items;
      d.Feed(wire, items);
      for (const auto& item : items) {
        const Bytes a = to.Receive(item.verb, item.option);
        answer.insert(answer.end(), a.begin(), a.end());
      }
    };
    deliver(server, toServer, nextToClient);
    deliver(client, toClient, nextToServer);
    toServer = nextToServer;
    toClient = nextToClient;
  }
  EXPECT_LT(rounds, 10);
  for (const std::uint8_t opt : {kOptBinary, kOptSuppressGoAhead}) {
    EXPECT_TRUE(client.LocalEnabled(opt) && client.RemoteEnabled(opt));
    EXPECT_TRUE(server.LocalEnabled(opt) && server.RemoteEnabled(opt));
  }
  EXPECT_TRUE(client.LocalEnabled(kOptComPort));
  EXPECT_TRUE(server.RemoteEnabled(kOptComPort));
  EXPECT_TRUE(client.RemoteRefused(kOptEcho));
}

}  // namespace
}  // namespace kx::rfc2217
