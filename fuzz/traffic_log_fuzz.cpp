// The traffic log: whatever a port writes and receives, in any chunks and at
// any times (the clock may even stand still), told into frames, checked,
// counted and written as trace lines, also while the line carries the loader
// (its notes parsed from what came); bounded in the frames it keeps, also
// while a paused view holds its front, and followed by a view's rows.
#include "core/fwupdate/loader_protocol.h"
#include "core/traffic/traffic_log.h"
#include "core/traffic/traffic_taps.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kx::fuzz::FuzzInput in(data, size);
  kx::TrafficLog log(64);
  std::int64_t now = 0;
  std::size_t lines = 0;
  log.SetOnFrame([&](const kx::TrafficFrame& f) { lines += kx::TraceLine(f, f.micros).size(); });
  kx::TrafficRows rows;
  for (int steps = 0; steps < 400 && !in.empty(); ++steps) {
    switch (in.Byte() % 10) {
      case 0: log.Sent(in.Chunk(), now); break;
      case 1:
      case 2: log.Received(in.Chunk(), now); break;
      case 3: now += in.Word(); break;
      case 4: log.Settle(now); break;
      case 8:
        if (in.Bool()) {
          log.SetLoader(kx::LoaderTrace{kx::LoaderAnswerRule(), kx::LoaderRequestNote,
                                        [](std::span<const std::uint8_t> answer) {
                                          return std::pair{kx::Failure::None, kx::LoaderAnswerNote(answer)};
                                        }});
        } else {
          log.SetLoader(std::nullopt);
        }
        break;
      case 5: log.HoldFront(in.Bool()); break;
      case 6: {
        if (in.Bool()) log.Clear();
        const kx::TrafficRows::Change c = rows.Follow(log);
        rows.Apply(log, c);
        if (rows.count() != log.Frames().size()) __builtin_trap();
        lines += kx::TraceText(log, rows, now).size();
        break;
      }
      case 7: log.SetLine(std::nullopt); break;
      default: {
        kx::LineFormat f;
        f.form = in.Bool() ? kx::FrameForm::Rtu : kx::FrameForm::Ascii;
        f.baud = kx::kBaudRates[in.Byte() % 5];
        log.SetLine(f);
        break;
      }
    }
  }
  for (const kx::LinkStats& s : log.Stats()) lines += s.requests;
  // The log keeps at most its capacity.
  if (log.Frames().size() > 64) __builtin_trap();
  return lines == static_cast<std::size_t>(-1) ? -1 : 0;  // keeps the trace lines from being optimised away
}
