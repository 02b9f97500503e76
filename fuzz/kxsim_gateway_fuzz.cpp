// kxsim's Modbus TCP gateway reading any bytes from a client, in any chunks,
// with the simulated line behind it (controllers in both forms, echo, line
// timing): what the client gets is whole MBAP frames, answering its requests
// in order with their transaction and unit id, and the client's bytes are
// read only as far as the gateway has room.
#include <chrono>
#include <cstdlib>
#include <deque>
#include <memory>

#include "core/modbus/mbap.h"
#include "fuzz_input.h"
#include "kxsim/line.h"
#include "kxsim/modbus_gateway.h"

using namespace kxsim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kx::fuzz::FuzzInput in(data, size);
  const bool echo = in.Bool();
  const LineFormat rtu = *ParseLineFormat("9600-8N1-rtu");
  Line line([&] { return ExactSettings(rtu); });
  line.SetTiming(in.Bool());
  line.SetEcho(echo);
  line.Add(std::make_unique<Controller>(Model::Kx1, 1, rtu));
  line.Add(std::make_unique<Controller>(Model::Kx2, 2, rtu));
  line.Add(std::make_unique<Controller>(Model::Kx3, 3, *ParseLineFormat("9600-8N1-ascii")));
  ModbusGateway gateway({std::chrono::milliseconds(50), Line::RtuSilence(9600), echo});

  kx::mbap::Reader requests;  // what the client sent, read independently
  std::deque<kx::mbap::Frame> unanswered;
  kx::mbap::Reader answers;
  bool copyGiven = false;  // with the echo, each request's copy precedes its answer
  SimTime now{0};
  for (int steps = 0; steps < 400; ++steps) {
    if (in.empty() && !gateway.NextDeadline() && !line.NextDeadline()) break;  // nothing more to happen
    if (!in.empty()) {
      if (in.Bool()) {
        const auto chunk = in.Take(std::min<std::size_t>(in.Byte(), gateway.ClientRoom()));
        gateway.Handle(ModbusGateway::ClientBytes{chunk});
        requests.Add(chunk);
        while (auto r = requests.Next()) unanswered.push_back(std::move(*r));
      } else {
        // Stray bytes from the line: noise, answers nobody asked for.
        gateway.Handle(ModbusGateway::LineBytes{in.Chunk(), now});
      }
    }
    gateway.Handle(ModbusGateway::Tick{now});
    if (const kx::Bytes request = gateway.TakeForLine(); !request.empty()) line.Receive(request, now);
    if (const kx::Bytes out = line.TakeDue(now); !out.empty()) gateway.Handle(ModbusGateway::LineBytes{out, now});
    answers.Add(gateway.TakeForClient());
    while (auto frame = answers.Next()) {
      if (!echo) {
        while (!unanswered.empty() && unanswered.front().unit == 0) unanswered.pop_front();  // never answered
      }
      if (unanswered.empty()) std::abort();  // an answer nobody asked for
      const kx::mbap::Frame& asked = unanswered.front();
      if (frame->transaction != asked.transaction || frame->unit != asked.unit) std::abort();
      if (echo && !copyGiven) {
        // The request's copy; for a broadcast it is all there is.
        if (frame->pdu != asked.pdu) std::abort();
        copyGiven = asked.unit != 0;
        if (asked.unit == 0) unanswered.pop_front();
        continue;
      }
      unanswered.pop_front();
      copyGiven = false;
    }
    if (answers.broken()) std::abort();
    if (gateway.ClientRoom() > ModbusGateway::kMaxBuffered) std::abort();
    // Time moves to the next deadline or by what the input says.
    std::optional<SimTime> next = line.NextDeadline();
    if (const auto g = gateway.NextDeadline()) next = next ? std::min(*next, *g) : *g;
    now = std::max(now, next.value_or(now + std::chrono::milliseconds(in.Byte())));
  }
  return 0;
}
