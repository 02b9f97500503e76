// Time of a firmware update over a real pseudo-terminal against kxsim with line
// timing on, next to the line limit.
//
// Each run writes a firmware file of RECORDS records (31 data bytes each, plus
// the version record), starts `kxsim --link DIR/line --timing` with a KX2 in its
// loader, and runs the flash update engine (kx::FlashUpdate) through
// kx::serial::QtComPort in a QCoreApplication event loop, from UPDATE to done.
//
//   line limit   what the line itself needs: for every frame and its answer,
//                (frame + answer bytes) x 10 bits / 38400, plus kxsim's 2 ms
//                turnaround per exchange and its 200 ms erase
//   ratio        elapsed / line limit (1.00: as fast as the line allows)
//
// Usage: fwupdate_bench [--records N] [--runs N] [--kxsim PATH]
#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "awake_cpus.h"
#include "core/fwupdate/firmware_file.h"
#include "core/fwupdate/flash_update.h"
#include "core/line/session.h"
#include "kxsim/firmware_gen.h"
#include "serial/port_map.h"
#include "support/cpu_time.h"
#include "support/kxsim_process.h"
#include "support/port_paths.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kBitsPerByte = 10.0;  // 8N1
constexpr double kBaud = 38400.0;
constexpr double kTurnaround = 0.002;
constexpr double kErase = 0.200;

// Line limit of an update of `image`: every exchange's bytes on the wire, the
// turnaround of each exchange and the erase.
double LineLimit(const kx::FirmwareImage& image) {
  std::size_t bytes = (4 + 6) + (5 + 5) + (4 + 6) + (6 + 5);  // options, erase, command 7, verify
  for (const kx::Bytes& record : image.records) bytes += (record.size() + 3) + 5;
  const std::size_t exchanges = 4 + image.records.size();
  return static_cast<double>(bytes) * kBitsPerByte / kBaud + static_cast<double>(exchanges) * kTurnaround + kErase;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::size_t records = 1000;
  int runs = 3;
  std::string kxsim = KXSIM_PATH;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--records") == 0) records = std::strtoul(argv[i + 1], nullptr, 10);
    else if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
    else if (std::strcmp(argv[i], "--kxsim") == 0) kxsim = argv[i + 1];
  }

  const AwakeCpus awake(CpusKeptAwake(argc, argv));

  kxsim::FirmwareRecipe recipe;
  recipe.modelCode = 11;
  recipe.records = records + 1;  // the version record and `records` program records
  const kx::FirmwareLoad load = kx::CheckFirmware(kxsim::MakeFirmwareFile(recipe));
  if (!load.image) {
    std::fprintf(stderr, "generated file does not load\n");
    return 1;
  }
  const kx::FirmwareImage& image = *load.image;
  const double limit = LineLimit(image);
  std::printf("records  elapsed s  line limit s  ratio  cpu s\n");
  for (int run = 0; run < runs; ++run) {
    kx::test::ScratchDir dir;
    const std::string link = dir / "line";
    kx::test::KxsimProcess sim;
    if (!sim.Start(kxsim, {"--link", link, "--timing", "kx2@1:9600-8N1-rtu,loader"})) {
      std::fprintf(stderr, "kxsim did not start\n");
      return 1;
    }
    kx::Session session;
    kx::serial::ConfigurePorts(session, kx::test::OnePort(1, link));
    session.params.port = 1;
    std::unique_ptr<kx::ComPort> port = session.makePort();
    kx::FlashUpdateMemory memory;
    kx::FlashUpdate update(session, *port, memory);
    port->SetOnTrigger([&](kx::ComPort&, const kx::PortEvent& e) { update.Handle(e); });
    update.SetOnChange([&] {
      if (!update.Busy()) QCoreApplication::quit();
    });
    const double cpuBefore = kx::test::CpuSeconds();
    const auto start = Clock::now();
    QTimer::singleShot(0, [&] { update.Start(image, 1); });
    app.exec();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = kx::test::CpuSeconds() - cpuBefore;
    if (update.state() != kx::FlashUpdate::State::Done) {
      std::fprintf(stderr, "update ended with \"%s\"\n", update.view().status.c_str());
      return 1;
    }
    std::printf("%7zu  %9.3f  %12.3f  %5.3f  %5.2f\n", image.records.size(), elapsed, limit, elapsed / limit, cpu);
  }
  std::printf("\nratio: elapsed / line limit (1.00 is the line's limit, above is slower)\n");
  return 0;
}
