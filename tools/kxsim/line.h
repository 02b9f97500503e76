// The simulated serial line: collects what the PC sends, cuts it into frames
// (ASCII from ':' to LF, RTU by length rules or by inter-frame silence), hands
// each well-formed frame to the controllers that understand the PC's current
// settings, and schedules their answers, optionally with line timing.
// Transport-independent: a transport feeds bytes and instants and writes out
// whatever TakeDue returns.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/modbus/codec.h"
#include "kxsim/controller.h"
#include "kxsim/faults.h"
#include "kxsim/line_format.h"
#include "kxsim/sim_time.h"

namespace kxsim {

class Line {
 public:
  // Reads the PC's current line settings (tcgetattr on a pty, the negotiated
  // settings on a network line); asked before every frame decision.
  using SettingsSource = std::function<PcSettings()>;

  explicit Line(SettingsSource settings);

  Controller& Add(std::unique_ptr<Controller> controller);
  // Every controller on the line, follower units included.
  std::vector<Controller*> Controllers() const;

  // Line timing: an answer leaves after the turnaround plus the time the
  // request and the answer take on the wire at the PC's settings. Without it
  // answers leave after the turnaround alone.
  void SetTiming(bool enabled) { timing_ = enabled; }
  void SetTurnaround(SimTime turnaround) { turnaround_ = turnaround; }
  // Echo: the PC hears every byte it sends (a two-wire converter hearing its
  // own transmitter), as the bytes leave it, so ahead of any answer to them.
  void SetEcho(bool enabled) { echo_ = enabled; }
  // Continuous noise towards the PC, mixed into what TakeDue returns.
  LineNoise& noise() { return noise_; }

  // Bytes from the PC, received at `now`.
  void Receive(std::span<const std::uint8_t> bytes, SimTime now);
  // Earliest instant at which TakeDue has work (end of an RTU frame by silence,
  // an answer due), or nothing.
  std::optional<SimTime> NextDeadline() const;
  // Ends RTU frames whose silence has passed and returns the answer bytes due by `now`.
  kx::Bytes TakeDue(SimTime now);
  // Drops partial frames and pending answers (the PC closed the line).
  void Reset();
  // Drops what is pending for the PC (answers) and/or what the PC sent that
  // has not made a frame yet (partial frames).
  void Purge(bool answers, bool partial);

  // Silence that ends an RTU frame at a baud rate: 3.5 characters of 11 bits,
  // at least 2 ms (a pty delivers a frame in one piece, but not always).
  static SimTime RtuSilence(int baud);

 private:
  struct Pending {
    SimTime due;
    kx::Bytes bytes;
  };

  void ScanAscii(std::uint8_t byte, SimTime now);
  void TryRtuByLength(SimTime now);
  // Returns false when the frame is not well formed (or fails its check).
  bool Dispatch(kx::FrameForm form, std::span<const std::uint8_t> frame, SimTime now);
  // Loader frames go to the controllers listening as a loader at 38400 8N1.
  void ScanLoader(std::span<const std::uint8_t> bytes, SimTime now);
  void Schedule(SimTime due, kx::Bytes bytes);

  SettingsSource settings_;
  std::vector<std::unique_ptr<Controller>> controllers_;
  bool timing_ = false;
  bool echo_ = false;
  SimTime turnaround_{0};

  std::vector<std::uint8_t> ascii_;  // from ':' on
  bool inAscii_ = false;
  std::vector<std::uint8_t> rtu_;
  SimTime rtuLast_{0};
  SimTime rtuSilence_{0};
  std::deque<Pending> pending_;
  LineNoise noise_;
  LoaderFramer loaderFramer_;
};

}  // namespace kxsim
