// The flash update fed through the fake port: at each step the loader (or the
// KX3's Modbus side) answers correctly, answers with a damaged byte, or the
// input's own bytes arrive; ticks, notices, lost lines, a closing window and
// restarts in between. The update must keep its record and progress in range,
// end every step by its deadline, and whenever it is not running hold neither
// the port nor the line.
#include <cstdlib>

#include "core/fwupdate/flash_update.h"
#include "core/fwupdate/loader_protocol.h"
#include "core/line/settings.h"
#include "fuzz_input.h"
#include "support/fake_port.h"

using namespace kx;

namespace {

// Longest a step may take from its frame: the erase's longest wait, re-armed once.
constexpr std::int64_t kLongestStep = 2 * (kEraseTicks + kEraseExtensionMax) + 100;

FirmwareImage Image(FirmwareModel model, std::size_t records, std::uint8_t seed) {
  FirmwareImage image;
  image.model = model;
  for (std::size_t r = 0; r < records; ++r) {
    const std::uint8_t n = static_cast<std::uint8_t>(1 + (seed + r) % kMaxRecordDataBytes);
    Bytes row{n, static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(seed)};
    std::uint8_t sum = static_cast<std::uint8_t>(n + r + seed);
    for (std::uint8_t i = 0; i < n; ++i) {
      const auto b = static_cast<std::uint8_t>(seed * 31 + i);
      row.push_back(b);
      sum = static_cast<std::uint8_t>(sum + b);
      image.checksum = static_cast<std::uint16_t>(image.checksum + b);
    }
    row.push_back(static_cast<std::uint8_t>(-sum));
    image.records.push_back(std::move(row));
  }
  return image;
}

// What a working controller answers to `frame`: the echo of a Modbus write,
// or the loader's good answer.
Bytes GoodAnswer(const Bytes& frame, bool modbus) {
  if (modbus || frame.size() < 2) return frame;
  switch (frame[1]) {
    case kLoaderReadOptions: return LoaderFrame(kLoaderReadOptions, Bytes{kOptionByte1, kOptionByte2});
    case kLoaderCommand7: return LoaderFrame(kLoaderCommand7, Bytes{0x00, 0x00});
    default: return LoaderFrame(frame[1], Bytes{0x00});
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  Session session;
  // COM2, the form (ASCII or RTU) and speed from the input.
  session.settingsWord = 2 * 256 + in.Byte();
  DecodeSettingsWord(session.settingsWord, session.params);
  test::FakePort port;
  FlashUpdateMemory memory;
  FlashUpdate update(session, port, memory);
  port.SetOnTrigger([&](ComPort&, const PortEvent& e) { update.Handle(e); });
  port.SetOnError([&](const std::string&) { update.Handle(FlashUpdate::LineLost{}); });

  FirmwareImage image = Image(in.Bool() ? FirmwareModel::Kx3 : FirmwareModel::Kx2, 1 + in.Byte() % 6, in.Byte());
  std::size_t sentCount = 0;
  std::int64_t sentAt = 0;
  const auto check = [&] {
    if (update.record() >= image.records.size()) std::abort();
    if (update.view().progress < 0 || update.view().progress > 100) std::abort();
    if (update.lastFrame().size() > 256) std::abort();
    if (port.written.size() != sentCount) {
      sentCount = port.written.size();
      sentAt = port.now();
    }
    if (update.Busy()) {
      if (session.lineOwner != LineOwner::Firmware || !port.IsOpen()) std::abort();
      if (update.state() != FlashUpdate::State::LoaderWait && port.now() - sentAt > kLongestStep) std::abort();
    } else if (session.lineOwner == LineOwner::Firmware || port.IsOpen()) {
      std::abort();
    }
  };

  update.Start(image, 1 + in.Byte() % 247);
  check();
  for (int steps = 0; steps < 600 && !in.empty(); ++steps) {
    const bool modbus =
        update.state() == FlashUpdate::State::Unlocking || update.state() == FlashUpdate::State::EnablingFlash;
    switch (in.Byte() % 10) {
      case 0:
      case 1:
      case 2:
        if (!port.written.empty()) port.Feed(GoodAnswer(port.written.back(), modbus));
        break;
      case 3: {  // a good answer with one byte changed, in pieces
        if (port.written.empty()) break;
        Bytes answer = GoodAnswer(port.written.back(), modbus);
        answer[in.Byte() % answer.size()] ^= static_cast<std::uint8_t>(1 + in.Byte() % 255);
        port.FeedSplit(answer, {in.Byte() % (answer.size() + 1)});
        break;
      }
      case 4: port.Feed(in.Chunk()); break;
      case 5: port.FeedByteByByte(in.Take(in.Byte() % 12)); break;
      case 6: port.Tick(1 + in.Byte() % 200); break;
      case 7:
        if (update.TakeNotice()) update.Handle(FlashUpdate::NoticeClosed{});
        break;
      case 8:
        if (in.Byte() % 4 == 0) {
          port.Fail("line lost");
        } else {
          update.Handle(FlashUpdate::Stop{});
        }
        break;
      default:
        if (!update.Busy()) update.Start(image, 1 + in.Byte() % 247);
        break;
    }
    check();
  }
  // Silence from here on: every step ends by its time-out.
  for (int i = 0; i < 20 && update.Busy(); ++i) {
    if (update.TakeNotice()) update.Handle(FlashUpdate::NoticeClosed{});
    port.Tick(kLongestStep);
    check();
  }
  if (update.Busy()) std::abort();
  return 0;
}
