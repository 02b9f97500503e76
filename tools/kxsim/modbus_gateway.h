// A Modbus TCP gateway in front of the simulated line, without its socket.
// MBAP requests from the client are carried out one at a time, in the order
// they came (a client may send several without waiting): each goes onto the
// line as an RTU frame to the address = unit id, and the answer from that
// address goes back as MBAP with the request's transaction id and unit id.
// An answer ends by its length where its function tells it (the frame-end
// rule of the family), otherwise by the line's silence; one that is not a
// clean RTU frame from the addressed unit is dropped. No answer within the
// time-out gives the gateway's exception 0x0B (target failed to respond); a
// request to unit 0 (broadcast) is sent and never answered. Every function
// passes through unread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <variant>

#include "core/exchange/frame_end.h"
#include "core/modbus/codec.h"
#include "core/modbus/mbap.h"
#include "kxsim/sim_time.h"

namespace kxsim {

class ModbusGateway {
 public:
  static constexpr SimTime kDefaultTimeout = std::chrono::milliseconds(1000);
  // Bytes of the client's stream kept ahead of the request in progress; the
  // client is not read beyond them (a flood waits in its socket).
  static constexpr std::size_t kMaxBuffered = 2048;

  struct Settings {
    SimTime timeout = kDefaultTimeout;  // from the request put on the line
    // The silence that ends an RTU frame at the line's baud rate: it ends an
    // answer of unknown length, and follows a broadcast before the next request.
    SimTime gap = std::chrono::milliseconds(2);
    // The line echoes each request: the gateway drops the echo on the line and
    // hands the client a copy of its request ahead of the answer.
    bool lineEchoes = false;
  };

  enum class State {
    Idle,       // no request in progress
    Awaiting,   // a request is on the line, its answer awaited
    Broadcast,  // a broadcast is on the line; the next request waits for the gap
  };

  struct ClientBytes {
    std::span<const std::uint8_t> bytes;
  };
  struct LineBytes {
    std::span<const std::uint8_t> bytes;
    SimTime now;
  };
  // Time passing: starts the next request, ends an answer by silence, or times out.
  struct Tick {
    SimTime now;
  };
  using Event = std::variant<ClientBytes, LineBytes, Tick>;

  explicit ModbusGateway(Settings settings);

  void Handle(const Event& event);

  // When a Tick has work next; an instant in the past means at once.
  std::optional<SimTime> NextDeadline() const;
  // RTU frames for the line and MBAP frames for the client, each taken once.
  kx::Bytes TakeForLine();
  kx::Bytes TakeForClient();

  // How many more bytes the client may hand over now (0: do not read it).
  std::size_t ClientRoom() const;
  // The client's stream cannot be followed (a header with another protocol or
  // an impossible length) and every request before that point has been
  // answered: close the connection.
  bool Finished() const { return reader_.broken() && state_ == State::Idle && queue_.empty(); }
  State state() const { return state_; }
  // Forgets the client (its requests, buffered bytes and answers).
  void Reset();

 private:
  void ClientData(std::span<const std::uint8_t> bytes);
  void Start(SimTime now);
  void LineData(std::span<const std::uint8_t> bytes, SimTime now);
  void Advance(SimTime now);
  // Answers the request with the collected frame if it is one from the unit; false otherwise.
  bool Answer(std::span<const std::uint8_t> frame);
  void Reply(std::span<const std::uint8_t> pdu);

  Settings settings_;
  State state_ = State::Idle;
  kx::mbap::Reader reader_;
  std::deque<kx::mbap::Frame> queue_;  // whole requests not yet started
  std::size_t queuedBytes_ = 0;
  kx::mbap::Frame request_;
  SimTime deadline_{0};              // time-out (Awaiting) or end of the gap (Broadcast)
  std::size_t echoLeft_ = 0;         // echo bytes still to drop
  kx::FrameCollector collector_;     // the answer so far
  std::optional<SimTime> lastByte_;  // of the answer so far
  kx::Bytes forLine_;
  kx::Bytes forClient_;
};

}  // namespace kxsim
