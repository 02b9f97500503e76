// What went over the line, frame by frame, told from the bytes a port wrote
// and received (the port's tap) without any engine knowing: each request and
// its answer with the check result and the reply time, per-address figures
// (counts, reply-time spread, a suggested time-out), and the trace line form
// shared by kxctl --trace and the traffic window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/exchange/answer.h"
#include "core/exchange/frame_end.h"
#include "core/line/comport.h"
#include "core/line/line_format.h"
#include "core/modbus/codec.h"

namespace kx {

enum class Direction : std::uint8_t { Tx, Rx };

// One frame seen on the line. Times are microseconds of a steady clock; a
// request's time is when it was written (its first byte out), an answer's when
// its last byte came in.
struct TrafficFrame {
  std::int64_t micros = 0;
  Direction direction = Direction::Tx;
  Bytes bytes;                 // as on the wire (ASCII text with CR LF, or RTU bytes)
  FrameForm form = FrameForm::Ascii;
  std::uint8_t address = 0;    // 0 when the frame is too short to tell
  std::uint8_t function = 0;
  // Answers: the check result (None: good; TimedOut: the request got no answer,
  // `bytes` then holds what came, possibly nothing). Requests: None.
  Failure failure = Failure::None;
  std::uint8_t exceptionCode = 0;
  std::optional<double> replyMs;  // answers: from the request's write to the last byte
  // A frame of the loader (TrafficLog::SetLoader): `note` says what it is,
  // traced in place of a Modbus check result.
  bool loader = false;
  std::string note;
  // False for bytes that passed while the line's format was unknown: shown
  // raw, without address, function or check result.
  bool checked = true;
};

// The controllers' flash loader, which the line carries during a firmware
// update instead of Modbus: how its answers end and what its frames say. Its
// parser lives beside the loader protocol; whoever runs the update hands it in.
struct LoaderTrace {
  FrameEnd answerEnd;
  std::function<std::string(std::span<const std::uint8_t> request)> requestNote;
  // A complete answer: its check (None, or Checksum for a wrong sum) and what it says.
  std::function<std::pair<Failure, std::string>(std::span<const std::uint8_t> answer)> answerNote;
};

// Reply-time and failure figures of one address.
struct LinkStats {
  int address = 0;
  std::size_t requests = 0;
  std::size_t good = 0;
  std::size_t timeouts = 0;
  std::size_t checkErrors = 0;  // check digits wrong, or not a frame
  std::size_t exceptions = 0;
  std::size_t otherErrors = 0;  // wrong address, echo differs, unknown function
  // Reply times of good answers, in ms (empty when none came).
  std::optional<double> minMs, meanMs, p50Ms, p95Ms, maxMs;
  // A time-out that covers the measured replies with a margin, never below
  // the line's own time for the exchange; nothing without a good answer.
  std::optional<int> suggestedTimeoutMs;
};

// The suggested time-out: the slowest reply plus half of it, at least 20 ms
// more, never below the exchange's line time plus 20 ms, rounded up to 10 ms.
int SuggestedTimeoutMs(double maxReplyMs, double lineMs);

// Nearest-rank percentile (0 < p <= 100) of unsorted values; nothing when empty.
std::optional<double> Percentile(std::vector<double> values, double p);

class TrafficLog : public PortTap {
 public:
  static constexpr std::size_t kDefaultCapacity = 100'000;
  // Reply times kept per address for the percentiles (the most recent ones).
  static constexpr std::size_t kRepliesKept = 10'000;

  explicit TrafficLog(std::size_t capacity = kDefaultCapacity);

  // The line's form and format: how answers end and are checked, and the line
  // time for the suggested time-out. Without a format (nullopt), frames are
  // shown raw: not paired, checked or counted.
  void SetLine(const std::optional<LineFormat>& format);
  // From now on the frames are the loader's (nothing: Modbus again). Loader
  // frames are traced with their notes and count in no address's figures.
  void SetLoader(std::optional<LoaderTrace> loader) { loader_ = std::move(loader); }

  // A block the port wrote (one request). A request still waiting for its
  // answer ends unanswered first.
  void Sent(std::span<const std::uint8_t> bytes, std::int64_t micros) override;
  // A chunk the port received.
  void Received(std::span<const std::uint8_t> bytes, std::int64_t micros) override;
  // Ends a request still waiting for its answer (the exchange gave up on it,
  // or the trace is closing): an answer with what came so far, or TimedOut.
  void Settle(std::int64_t micros);

  // Frames kept, oldest first (at most the capacity: the oldest are dropped).
  const std::deque<TrafficFrame>& Frames() const { return frames_; }
  // Every frame ever added, dropped ones included.
  std::uint64_t Added() const { return added_; }
  // Frames that left the front of the kept list (dropped or cleared): the
  // kept frame Frames()[i] is the (Removed() + i)-th frame ever kept, so a
  // view can follow the list by these numbers.
  std::uint64_t Removed() const { return removed_; }
  void Clear();  // the frames; the figures stay
  void ClearStats();

  // While the front is held (a paused view reads the kept frames), none is
  // dropped: a frame added at full capacity is counted but not kept.
  void HoldFront(bool hold) { holdFront_ = hold; }
  bool frontHeld() const { return holdFront_; }

  // The time of the last thing the request waiting for its answer saw (its
  // write or the latest chunk); nothing when no request waits.
  std::optional<std::int64_t> PendingSince() const;

  // Figures per address, lowest address first.
  std::vector<LinkStats> Stats() const;
  std::optional<LinkStats> StatsOf(int address) const;

  // Called with each frame as it is added.
  void SetOnFrame(std::function<void(const TrafficFrame&)> onFrame) { onFrame_ = std::move(onFrame); }

 private:
  struct Pending {
    Bytes request;
    std::int64_t sentMicros = 0;
    FrameCollector collector;
    std::int64_t lastMicros = 0;
    bool loader = false;
  };
  struct Figures {
    std::size_t requests = 0, good = 0, timeouts = 0, checkErrors = 0, exceptions = 0, otherErrors = 0;
    double sumMs = 0;
    std::size_t replies = 0;
    double minMs = 0, maxMs = 0;
    std::deque<double> recent;
    double lineMs = 0;  // the line time of this address's longest exchange
  };

  void Add(TrafficFrame frame);
  void FinishAnswer(std::int64_t micros, bool complete);
  void FinishLoaderAnswer(TrafficFrame& frame, const Pending& pending, bool complete);
  void Count(const TrafficFrame& answer, const Pending& pending);

  std::size_t capacity_;
  std::optional<LineFormat> line_;
  std::optional<LoaderTrace> loader_;
  std::optional<Pending> pending_;
  std::deque<TrafficFrame> frames_;
  std::uint64_t added_ = 0;
  std::uint64_t removed_ = 0;
  bool holdFront_ = false;
  std::map<int, Figures> figures_;
  std::function<void(const TrafficFrame&)> onFrame_;
};

// One frame in the trace form: "HH:MM:SS.mmm TX|RX <bytes in upper-case hex,
// blank separated>" then notes: an ASCII frame's text, an answer's check
// result (and why it failed) and its reply time. `timeOfDayMicros` is the
// frame's wall-clock time of day.
std::string TraceLine(const TrafficFrame& frame, std::int64_t timeOfDayMicros);

// The parts of a trace line, for a view that shows them in columns:
// "HH:MM:SS.mmm" of a time of day in microseconds,
std::string TraceTime(std::int64_t timeOfDayMicros);
// the bytes in upper-case hexadecimal, blank separated,
std::string HexText(std::span<const std::uint8_t> bytes);
// an ASCII frame's text without CR and LF (empty for an RTU frame),
std::string FrameText(const TrafficFrame& frame);
// an answer's check result: "good", "no answer: ...", "incomplete: ...",
// "failed: ..." (empty for a request and for bytes not judged),
std::string CheckNote(const TrafficFrame& frame);
// and a time in ms with one decimal ("37.2").
std::string MsText(double ms);

// What to add to a steady-clock time in microseconds to get the local time
// of day (in microseconds since an epoch-based midnight), as of now.
std::int64_t TimeOfDayOffsetMicros();

}  // namespace kx
