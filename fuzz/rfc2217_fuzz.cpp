// The RFC 2217 (Telnet COM Port Control) decoder, its COM-PORT-OPTION parser
// and option negotiation, and kxsim's server session, fed any stream. Cutting
// the stream into pieces must not change what the decoder finds.
#include <cstdlib>
#include <vector>

#include "core/line/rfc2217.h"
#include "fuzz_input.h"
#include "kxsim/rfc2217_server.h"

using namespace kx;
namespace rfc = kx::rfc2217;

namespace {

// Joins neighbouring data items, so two ways of cutting compare equal.
std::vector<rfc::Item> Merged(const std::vector<rfc::Item>& items) {
  std::vector<rfc::Item> out;
  for (const rfc::Item& item : items) {
    if (item.kind == rfc::Item::Kind::Data && !out.empty() && out.back().kind == rfc::Item::Kind::Data) {
      out.back().bytes.insert(out.back().bytes.end(), item.bytes.begin(), item.bytes.end());
    } else if (item.kind != rfc::Item::Kind::Data || !item.bytes.empty()) {
      out.push_back(item);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  const std::size_t cut = in.Byte() + 1;
  const auto stream = in.Rest();

  std::vector<rfc::Item> whole;
  rfc::Decoder().Feed(stream, whole);
  std::vector<rfc::Item> pieces;
  rfc::Decoder decoder;
  for (std::size_t from = 0; from < stream.size(); from += cut) {
    decoder.Feed(stream.subspan(from, std::min(cut, stream.size() - from)), pieces);
  }
  if (Merged(whole) != Merged(pieces)) std::abort();

  rfc::Negotiator client({rfc::kOptBinary}, {rfc::kOptBinary, rfc::kOptComPort});
  (void)client.Start();
  for (const rfc::Item& item : whole) {
    if (item.kind == rfc::Item::Kind::Negotiation) (void)client.Receive(item.verb, item.option);
    if (item.kind == rfc::Item::Kind::Subnegotiation) {
      if (item.bytes.size() > rfc::Decoder::kMaxSubnegotiation) std::abort();
      if (const auto msg = rfc::ParseComPort(item.bytes)) {
        (void)rfc::ComPortReply(msg->command, msg->value);
      }
    }
  }
  (void)rfc::Escape(stream);

  kxsim::Rfc2217Session server;
  (void)server.Start();
  (void)server.Receive(stream, [](std::span<const std::uint8_t>) {}, [](rfc::PurgeCode) {});
  const kxsim::PcSettings& s = server.settings();
  if (s.baud <= 0 || s.dataBits < 5 || s.dataBits > 8) std::abort();
  return 0;
}
