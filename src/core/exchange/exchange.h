// One request and its answer on a port: the one piece of code through which
// every engine and window talks to a controller.
//
// Use:
//   Exchange exchange(port);              // one per port, living as long as it
//   ... open the port ...
//   exchange.Opened();                    // after every opening: adds its triggers
//   ExchangeRequest r = ExchangeRequest::For(form, frame, firstWait, rearm, timing);
//   r.expect = AnswerExpectation{...};    // optional: check the answer
//   exchange.Send(std::move(r));          // flushes stale input, writes, arms
//   port.SetOnTrigger([&](ComPort&, const PortEvent& e) {
//     if (auto answer = exchange.Handle(e)) { ... the request ended ... }
//   });
//   port.SetOnError([&](const std::string&) {
//     if (auto answer = exchange.LineLost()) { ... ended as AnswerEnd::LineLost ... }
//   });
//
// Handle returns the finished answer instead of calling anyone back, so the
// caller decides what runs next (and may Send the next request at once).
//
// Timing (ticks of 55 ms). After the write the silence trigger waits
// `firstWaitTicks`; every received chunk that does not end the answer re-arms
// it with `rearmTicks`, so it measures the silence since the last bytes. When
// it fires:
//   - no bytes received: the request timed out;
//   - bytes received and the rule lets silence end the answer: complete,
//     except that an answer shorter than `graceBelow` is given one more wait of
//     `rearmTicks` first (the RTU grace wait);
//   - otherwise: timed out (the partial bytes are in Answer::raw).
// The two silence triggers alternate between requests (by tag), so a late
// expiry of the previous request's trigger is never taken for the current one.
//
// Deadline: every request also has an overall deadline counted from the write,
// never restarted by received bytes: the first wait, plus the time the longest
// answer the frame-end rule accepts takes on the line at its speed, plus the
// re-arm (and grace) wait, plus one tick. At the deadline the request ends as
// TimedOut with `deadlineReached` set, so a stream of noise that keeps
// restarting the silence wait cannot hold an exchange open. A request may set
// `deadlineTicks` itself (a loader step that erases flash).
//
// The line (ComPort::Traits, read at each Send):
//   - echoes: the request comes back first. Its bytes are compared with the
//     request as they arrive and dropped; anything else ends the request at
//     once as Failure::LineEcho. The answer is collected from the byte after
//     the echo, and the first wait starts again once the echo is whole (the
//     controller starts answering when the request has left the line). The
//     deadline grows by the echo's time on the line.
//   - network: every wait of the request (first, re-arm, and a deadline the
//     request sets itself) grows by kNetworkAllowanceTicks, and a silence ends
//     only an answer whose rule cannot tell its end from its bytes (Silence,
//     an RTU function of unknown length): an answer that ends by its length
//     or its LF waits for it up to the deadline, as a gap in a TCP stream
//     says nothing about the frame.
//   - gateway: the waits of a request that is no broadcast grow by
//     kGatewayAllowanceTicks more, so the
//     gateway's own verdict comes within them, and an answer that is the
//     gateway's exception 0x0A or 0x0B ends the request at once as TimedOut
//     with nothing received (no controller answered).
//
// Receive cap: the answer is stored up to `capacity` bytes; a full buffer ends
// the answer (Complete, `overflowed` set), the rest of that chunk is dropped.
// Bytes that arrive while no request is pending are read and dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/exchange/answer.h"
#include "core/exchange/frame_end.h"
#include "core/line/comport.h"
#include "core/line/line_format.h"
#include "core/line/session.h"
#include "core/modbus/codec.h"

namespace kx {

// Added to every wait of a request on a network line (the time-out policy's
// one network figure, see requests.h): 4 ticks, 220 ms, for a device server's
// or gateway's round trip on a plant network or a VPN (tens of ms) plus the
// time a device server may hold received bytes before sending them on (its
// packing interval, commonly up to 50 ms), with room to spare. Only waits
// that end without an answer get longer; an answer is taken when it arrives.
inline constexpr int kNetworkAllowanceTicks = 4;
// Added on top for a Modbus TCP gateway: 20 ticks, 1100 ms, longer than the
// common setting of a gateway's own answer time-out (1000 ms). A gateway
// answers every request, with the controller's answer or with its exception
// 0x0B when the controller is silent, and it carries one request at a time:
// a wait that ended before the gateway's would put the next request behind
// the one it still waits for, and its answer would come too late as well.
// So a silent controller costs the gateway's time-out (set it shorter on the
// gateway to search faster), and this wait only ends a gateway that is gone.
inline constexpr int kGatewayAllowanceTicks = 20;

struct ExchangeRequest {
  Bytes frame;                      // written to the port in one block
  FrameForm form = FrameForm::Ascii;
  FrameEnd end = frame_end::Line{};
  int firstWaitTicks = 18;
  int rearmTicks = 18;
  LineTiming timing;
  std::size_t capacity = 256;       // bytes stored per answer
  std::size_t graceBelow = 0;       // see Timing above; 0: no grace wait
  int deadlineTicks = 0;            // 0: derived (see Deadline above)
  bool flushInput = true;           // drop unread input before the write
  // Checks applied to a complete answer (its form is set from `form`).
  std::optional<AnswerExpectation> expect;

  // A request with the frame form's default rule (Line or RtuByFunction).
  static ExchangeRequest For(FrameForm form, Bytes frame, int firstWaitTicks, int rearmTicks,
                             LineTiming timing);
};

enum class AnswerEnd {
  Complete,  // the rule ended it (or silence, or a full buffer)
  TimedOut,  // no answer, a partial one, or the deadline
  LineLost,  // the port failed while the request was pending
};

// The one answer type: how the request ended, the bytes as received and, for
// a request with `expect`, the answer in its parsed form and the result of the
// checks. Engines read the parsed form, never the received bytes by index.
struct Answer {
  std::uint32_t tag = 0;
  AnswerEnd end = AnswerEnd::TimedOut;
  Bytes raw;                    // as received (ASCII text with CR LF, or RTU bytes)
  bool overflowed = false;      // the receive buffer filled up
  bool deadlineReached = false; // ended by the overall deadline

  // Why it failed (None: good). Without an expectation a complete answer is good.
  Failure failure = Failure::TimedOut;
  // Checked answers: address, function, data and check field (ASCII converted to bytes).
  Bytes frame;
  std::uint8_t function = 0;       // checked answers: the function byte
  std::uint8_t exceptionCode = 0;  // Failure::Exception: the exception code
  std::size_t checkLength = 0;     // bytes of the check field at the end of `frame`

  bool Complete() const { return end == AnswerEnd::Complete; }
  // Complete and every check asked for passed.
  bool Ok() const { return failure == Failure::None; }
  std::uint8_t Address() const { return frame.empty() ? 0 : frame[0]; }
  // The data after the function byte, check field left out (`frame` must hold one).
  std::span<const std::uint8_t> Data() const;
  // A read answer's registers (03, 04, 0x67, 0x77): as many as its byte count
  // announces; none when the count does not match the answer's length.
  std::vector<std::uint16_t> Words() const;
  std::optional<std::uint16_t> Word(std::size_t index) const;
  // The text for `failure` (FailureText); empty when good.
  std::string FailureText() const;
  // The received bytes as text, CR and LF left out.
  std::string Text() const;
};

// Whether received bytes are a gateway's own exception (0x0A, 0x0B) as a
// whole frame of the form, check digits right.
bool IsGatewayFailureAnswer(FrameForm form, std::span<const std::uint8_t> received);

// Derived overall deadline of a request (see Deadline above).
int DeadlineTicks(const ExchangeRequest& request);

class Exchange {
 public:
  explicit Exchange(ComPort& port);
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  // After each opening of the port: adds the triggers of this opening (four:
  // silence and deadline, twice, alternating by tag). A pending request is dropped.
  void Opened();

  // Writes the request and arms its triggers; a request still pending is
  // dropped without an answer. Returns the request's tag (never 0).
  std::uint32_t Send(ExchangeRequest request);

  // One port event. Returns the answer when this event ended the pending
  // request; nothing otherwise (more bytes expected, a stale timer, or bytes
  // nobody asked for, which are dropped).
  std::optional<Answer> Handle(const PortEvent& event);

  // The port failed: the pending request ends as LineLost; nothing when no
  // request was pending. The triggers are gone with the port: Opened() again
  // after reopening.
  std::optional<Answer> LineLost();

  // Drops the pending request without an answer (the caller closes or gives up).
  void Cancel();

  bool pending() const { return pending_; }
  std::uint32_t tag() const { return tag_; }
  // Bytes of the pending (or last) answer so far, for receivers that show them
  // as they arrive.
  std::span<const std::uint8_t> Received() const { return collector_.received(); }

  // Triggers of the pending request (for tests and diagnostics).
  std::uint16_t SilenceTrigger() const { return silence_[tag_ & 1U]; }
  std::uint16_t DeadlineTrigger() const { return deadline_[tag_ & 1U]; }
  int deadlineTicks() const { return deadlineTicks_; }

 private:
  std::optional<Answer> OnData();
  std::optional<Answer> OnTimer(std::uint16_t handle);
  Answer Finish(AnswerEnd end, bool deadline = false);
  void Disarm();

  // Takes the line's echo from the front of a chunk; false when it differs.
  bool TakeEcho(std::span<const std::uint8_t>& chunk);

  ComPort& port_;
  LineTraits traits_;
  std::size_t echoTaken_ = 0;   // bytes of the request's echo received so far
  std::size_t echoLength_ = 0;  // 0: the line does not echo
  bool pending_ = false;
  bool graceUsed_ = false;
  std::uint32_t tag_ = 0;
  std::uint16_t silence_[2] = {0, 0};
  std::uint16_t deadline_[2] = {0, 0};
  int deadlineTicks_ = 0;
  ExchangeRequest request_;
  FrameCollector collector_;
};

}  // namespace kx
