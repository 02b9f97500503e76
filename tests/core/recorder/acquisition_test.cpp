// Acquisition against kxsim's controllers on the simulated bus and its 55 ms
// tick clock: the request, the answer checks in both forms (answers handed
// over whole, byte by byte and split), kxsim's faults, the failure count,
// dropping, the record written per cycle and the automatic stop.
#include "core/recorder/acquisition.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>

#include <unistd.h>

#include "fake_timer.h"
#include "recording_surface.h"
#include "support/fake_port.h"
#include "support/file_size_limit.h"
#include "support/sim_bus.h"

namespace kx::recorder {
namespace {

namespace fs = std::filesystem;
using test::FakePort;
using Delivery = test::SimBus::Delivery;

struct Observer : AcquisitionObserver {
  void Started() override { ++started; }
  void Stopped(bool automatic) override {
    ++stopped;
    automaticStop = automatic;
  }
  void StatusText(std::string_view t) override { texts.emplace_back(t); }
  void SlotDropped(int slot) override { dropped.push_back(slot); }
  void CounterChanged(long c) override { counter = c; }
  void RecordWriteFailed(std::string_view e) override {
    writeError = e;
    if (onWriteFailed) onWriteFailed();
  }
  int started = 0;
  int stopped = 0;
  bool automaticStop = false;
  std::vector<std::string> texts;
  std::vector<int> dropped;
  long counter = -1;
  std::string writeError;
  std::function<void()> onWriteFailed;
};

class AcquisitionTest : public ::testing::TestWithParam<std::tuple<bool, Delivery>> {
 protected:
  AcquisitionTest()
      : chart(slots),
        acquisition(port, session, slots, chart, timer, [this] { return now; }) {
    session.params = Rtu() ? PortParams{2, 9600, 8, 0, 1, true} : PortParams{2, 9600, 7, 1, 1, false};
    bus.SetDelivery(std::get<1>(GetParam()));
    chart.SetGeometry(ChartGeometry::ForWidth(808));
    chart.SetSurface(&surface);
    acquisition.SetObserver(&observer);
    port.SetOnTrigger([this](ComPort&, const PortEvent& e) { acquisition.Handle(acquisition_event::Port{e}); });
    // Test programs run side by side and may place this object at the same
    // address: the process id keeps their files apart.
    path = (fs::temp_directory_path() / ("kx_acq_" + std::to_string(::getpid()) + "_" +
                                         std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".rec"))
               .string();
  }
  ~AcquisitionTest() override { fs::remove(path); }

  bool Rtu() const { return std::get<0>(GetParam()); }
  FrameForm Form() const { return Rtu() ? FrameForm::Rtu : FrameForm::Ascii; }

  void Address(int slot, int address) { slots[static_cast<std::size_t>(slot)].boxAddress = static_cast<std::uint8_t>(address); }

  void Start(int sampleTime = 1, bool goOnWithoutFile = false) {
    RecordHeader header;
    for (std::size_t i = 0; i < kSlots; ++i) header.addresses[i] = slots[i].boxAddress;
    ASSERT_TRUE(writer.Create(path, header));
    acquisition.Handle(acquisition_event::Start{sampleTime, &writer, goOnWithoutFile});
  }

  // The address the last request went to (checked for its exact frame).
  int LastRequestAddress() {
    const Bytes& frame = port.written.back();
    const LineFormat line = LineFormatOf(session.params);
    if (Rtu()) {
      EXPECT_EQ(frame, ProcessValueRequest(line, frame[0]).frame);
      return frame[0];
    }
    const int address = HexPairValue(static_cast<char>(frame[1]), static_cast<char>(frame[2]));
    EXPECT_EQ(frame, ProcessValueRequest(line, static_cast<std::uint8_t>(address)).frame);
    EXPECT_EQ(frame.size(), 17u);
    return address;
  }

  // A KX2 at `address` on the line, in the line's form, reading `pv` (held still).
  kxsim::Controller& Controller(int address, std::uint16_t pv = 0) {
    kxsim::Controller& c = bus.Add("kx2@" + std::to_string(address) + (Rtu() ? ":9600-8N1-rtu" : ":9600-7E1-ascii"));
    c.HoldProcess(true);
    c.SetRegister(kProcessValueRegister, pv);
    return c;
  }

  // One timer tick of the window, then answers until the cycle ends or a request fails.
  void TickAndAnswer() {
    acquisition.Handle(acquisition_event::Tick{});
    AnswerAll();
  }
  // The controllers answer (or a silent one times out) until the cycle ends
  // or a request failed (asked again at the next tick).
  void AnswerAll() {
    ASSERT_TRUE(bus.RunUntil([&] { return acquisition.state() != Acquisition::State::Awaiting; }, 100));
  }
  std::vector<Record> Records() {
    RecordFile file;
    EXPECT_TRUE(file.Open(path));
    std::vector<Record> out;
    for (std::uint64_t k = 0; k < file.count(); ++k) {
      EXPECT_TRUE(file.Ensure(k));
      out.push_back(file.At(k));
    }
    return out;
  }

  Session session;
  FakePort port;
  Slots slots{};
  RecordingSurface surface;
  Chart chart;
  FakeTimer timer;
  Observer observer;
  SampleTime now{10, 20, 30, 44};
  Acquisition acquisition;
  RecordWriter writer;
  std::string path;
  test::SimBus bus{port};
};

TEST_P(AcquisitionTest, OnlySlotSevenIsAskedAndOthersRecordZeros) {
  Address(6, 7);
  Controller(7, 250);
  Start();
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Recorder);
  EXPECT_EQ(observer.started, 1);
  EXPECT_TRUE(timer.running);
  EXPECT_EQ(timer.interval, 1000);
  AnswerAll();
  for (int i = 0; i < 2; ++i) TickAndAnswer();
  EXPECT_EQ(port.written.size(), 3u);
  EXPECT_EQ(observer.counter, 3);
  EXPECT_EQ(chart.Value(6, 2), 250);
  const auto records = Records();
  ASSERT_EQ(records.size(), 3u);
  for (const Record& r : records) {
    for (int i = 0; i < kSlots; ++i) EXPECT_EQ(r.values[static_cast<std::size_t>(i)], i == 6 ? 250 : 0);
    EXPECT_EQ(r.time, now);
  }
  acquisition.Handle(acquisition_event::Stop{});
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_FALSE(timer.running);
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_FALSE(observer.automaticStop);
}

TEST_P(AcquisitionTest, SilentSlotDroppedAfterThreeTimeOutsWithMarkerFromThenOn) {
  Address(0, 1);
  Address(1, 2);
  Controller(1, 0xFFCE);  // -5.0; nobody at 2
  Start();
  AnswerAll();  // slot 1 good, slot 2 times out: the cycle waits
  EXPECT_EQ(observer.texts.back(), "DEVICE  2Received data time out error");
  EXPECT_EQ(observer.counter, -1);
  TickAndAnswer();  // slot 2 again: second time-out
  EXPECT_TRUE(observer.dropped.empty());
  TickAndAnswer();  // third: dropped, the cycle completes
  EXPECT_EQ(observer.dropped, std::vector<int>{1});
  EXPECT_EQ(slots[1].address, 0);
  EXPECT_EQ(slots[1].dropPoint, 0);
  EXPECT_EQ(observer.counter, 1);
  for (int i = 0; i < 3; ++i) TickAndAnswer();
  EXPECT_EQ(observer.counter, 4);
  const auto records = Records();
  ASSERT_EQ(records.size(), 4u);
  for (const Record& r : records) {
    EXPECT_EQ(r.values[0], -50);
    EXPECT_EQ(r.values[1], kErrorMarker);
  }
  EXPECT_TRUE(acquisition.Acquiring());
}

TEST_P(AcquisitionTest, AllSilentStopsByItselfAfterOneMoreRecord) {
  Address(0, 1);
  Address(3, 4);
  Start();
  AnswerAll();
  for (int i = 0; i < 5 && acquisition.Acquiring(); ++i) TickAndAnswer();
  EXPECT_FALSE(acquisition.Acquiring());
  EXPECT_EQ(observer.stopped, 1);
  EXPECT_TRUE(observer.automaticStop);
  EXPECT_EQ(observer.dropped, (std::vector<int>{0, 3}));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  EXPECT_FALSE(timer.running);
  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].values[0], kErrorMarker);
  EXPECT_EQ(records[0].values[3], kErrorMarker);
  // A new Start begins a fresh run.
  Start();
  EXPECT_TRUE(acquisition.Acquiring());
  EXPECT_EQ(slots[0].dropPoint, -1);
  EXPECT_EQ(slots[0].address, 1);
}

// A record file that cannot take the next record (a full disk): acquisition
// has stopped (port closed, line free, timer off) before the failure is told,
// the file keeps its whole records, and Start runs again into a new file. A
// file the user did not ask for is given up instead and sampling goes on.
TEST_P(AcquisitionTest, RecordWriteFailureStopsCleanlyAndStartWorksAgain) {
  Address(0, 1);
  Controller(1, 250);
  Start();
  AnswerAll();
  TickAndAnswer();
  bool safeWhenTold = false;
  observer.onWriteFailed = [&] {
    safeWhenTold = !acquisition.Acquiring() && !port.IsOpen() && !timer.running && observer.stopped == 1;
  };
  {
    const test::FileSizeLimit full(12 + 25 * 2 + 10);
    ASSERT_TRUE(full.ok());
    TickAndAnswer();
  }
  EXPECT_FALSE(observer.writeError.empty());
  EXPECT_TRUE(safeWhenTold);
  EXPECT_EQ(observer.counter, 3);
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
  const std::size_t sent = port.written.size();
  acquisition.Handle(acquisition_event::Tick{});
  EXPECT_EQ(port.written.size(), sent);
  EXPECT_EQ(fs::file_size(path), 12u + 25u * 2u);
  EXPECT_EQ(Records().size(), 2u);

  Start();
  AnswerAll();
  EXPECT_TRUE(acquisition.Acquiring());
  acquisition.Handle(acquisition_event::Stop{});
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_EQ(Records()[0].values[0], 250);

  observer = Observer{};
  Start(1, true);
  {
    const test::FileSizeLimit full(12 + 10);
    ASSERT_TRUE(full.ok());
    AnswerAll();
  }
  EXPECT_FALSE(observer.writeError.empty());
  EXPECT_TRUE(acquisition.Acquiring());
  TickAndAnswer();
  EXPECT_EQ(observer.counter, 2);
  EXPECT_EQ(Records().size(), 0u);
}

TEST_P(AcquisitionTest, FailuresAreReportedPerStatusAndNotStored) {
  struct Case {
    const char* name;
    kxsim::Fault fault;
    std::uint8_t code;      // exception code, or the PV status of an input fault
    std::string text;
  };
  const Case cases[] = {
      {"exception code 2", kxsim::Fault::Exception, 2, "DEVICE  1illegal address  !!!"},
      {"exception code 14", kxsim::Fault::Exception, 14, "DEVICE  1illegal ASCII    !!!"},
      {"exception code 9", kxsim::Fault::Exception, 9, "DEVICE  1Unknow Error     !!!"},
      {"input fault", kxsim::Fault::None, 2, "DEVICE  1 Input unstable or Device fail"},
      {"another address", kxsim::Fault::WrongAddress, 0, "DEVICE  1 Received data does not match"},
      {"checksum", kxsim::Fault::BadCheck, 0, "DEVICE  1Received checksum error !!!"},
  };
  Address(0, 1);
  kxsim::Controller& c = Controller(1, 250);
  for (const Case& k : cases) {
    c.SetFault(k.fault, k.code);
    c.SetPvStatus(k.fault == kxsim::Fault::None ? k.code : 0);
    Start();
    AnswerAll();
    EXPECT_EQ(observer.texts.back(), k.text) << k.name;
    EXPECT_EQ(observer.counter, -1) << k.name;
    EXPECT_EQ(chart.Value(0, 0), 0) << k.name;
    EXPECT_EQ(slots[0].failures, 1) << k.name;
    acquisition.Handle(acquisition_event::Stop{});
  }
}

TEST_P(AcquisitionTest, GoodAnswerResetsTheFailureCount) {
  Address(0, 1);
  kxsim::Controller& c = Controller(1, 100);
  c.SetFault(kxsim::Fault::NoAnswer);
  Start();
  AnswerAll();
  TickAndAnswer();
  EXPECT_EQ(slots[0].failures, 2);
  c.SetFault(kxsim::Fault::None);
  TickAndAnswer();
  EXPECT_EQ(slots[0].failures, 0);
  c.SetFault(kxsim::Fault::NoAnswer);
  TickAndAnswer();
  TickAndAnswer();
  EXPECT_TRUE(observer.dropped.empty());
  EXPECT_EQ(observer.counter, 1);
}

TEST_P(AcquisitionTest, AddressTwoHundredAndNegativeValues) {
  Address(0, 200);
  Controller(200, 0xFFCE);
  Start();
  EXPECT_EQ(LastRequestAddress(), 200);
  if (!Rtu()) {
    EXPECT_EQ(port.LastWrittenText().substr(0, 3), ":C8");
  }
  AnswerAll();
  EXPECT_EQ(observer.counter, 1);
  EXPECT_EQ(chart.Value(0, 0), -50);
  EXPECT_EQ(surface.valueBoxes[0], "");  // sample 0 draws the frame only
  TickAndAnswer();
  EXPECT_EQ(surface.valueBoxes[0], "-5.0");
}

TEST_P(AcquisitionTest, TicksWhileAnAnswerIsOutstandingAreSkipped) {
  Address(0, 1);
  Controller(1, 100);
  Start(0);
  EXPECT_EQ(timer.interval, 500);
  for (int i = 0; i < 5; ++i) acquisition.Handle(acquisition_event::Tick{});
  EXPECT_EQ(port.written.size(), 1u);
  AnswerAll();
  EXPECT_EQ(observer.counter, 1);
}

TEST_P(AcquisitionTest, AnswerTimeOutFollowsFormAndBaud) {
  Address(0, 1);
  Start();
  EXPECT_EQ(acquisition.AnswerTicks(), Rtu() ? 2 : 15);
  acquisition.Handle(acquisition_event::Stop{});
  session.params.baud = 4800;
  Start();
  EXPECT_EQ(acquisition.AnswerTicks(), Rtu() ? 3 : 15);
}

TEST_P(AcquisitionTest, NothingAddressedStartsNothing) {
  acquisition.Handle(acquisition_event::Start{1, nullptr});
  EXPECT_FALSE(acquisition.Acquiring());
  EXPECT_EQ(observer.stopped, 1);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(port.written.empty());
}

TEST_P(AcquisitionTest, PortThatWillNotOpenIsReported) {
  Address(0, 1);
  port.failNextOpen = "busy";
  struct : Observer {
    void PortError(std::string_view t) override { error = t; }
    std::string error;
  } o;
  acquisition.SetObserver(&o);
  acquisition.Handle(acquisition_event::Start{1, nullptr});
  EXPECT_EQ(o.error, "busy");
  EXPECT_FALSE(acquisition.Acquiring());
  EXPECT_EQ(session.lineOwner, LineOwner::Free);
}

std::string Name(const ::testing::TestParamInfo<std::tuple<bool, Delivery>>& info) {
  static const char* kDelivery[] = {"Whole", "ByteByByte", "Split"};
  return std::string(std::get<0>(info.param) ? "Rtu" : "Ascii") + kDelivery[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Forms, AcquisitionTest,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(Delivery::Whole, Delivery::ByteByByte, Delivery::Split)),
                         Name);

// The text of every way a sample can fail: the failure table's own for a
// time-out and a checksum error, the exception code's, the input fault's, and
// "does not match" for every answer that is not the read asked for.
TEST(AcquisitionTexts, StatusMessages) {
  const std::pair<SampleStatus, std::string> cases[] = {
      {{Failure::None}, ""},
      {{Failure::TimedOut}, "Received data time out error"},
      {{Failure::LineLost}, "Received data time out error"},
      {{Failure::Checksum}, "Received checksum error !!!"},
      {{Failure::Format}, " Received data does not match"},
      {{Failure::WrongAddress}, " Received data does not match"},
      {{Failure::EchoMismatch}, " Received data does not match"},
      {{Failure::UnknownFunction}, " Received data does not match"},
      {{Failure::Exception, 0x01}, "illegal function !!!"},
      {{Failure::Exception, 0x0D}, "too many data    !!!"},
      {{Failure::Exception, 0x09}, "Unknow Error     !!!"},
      {{Failure::None, 0, true}, " Input unstable or Device fail"},
  };
  for (const auto& [status, text] : cases) EXPECT_EQ(SampleStatusText(status), text) << static_cast<int>(status.failure);
  EXPECT_EQ(SlotFailureText(9, {Failure::Checksum}), "DEVICE  10Received checksum error !!!");
  EXPECT_EQ(SampleIntervalMs(0), 500);
  EXPECT_EQ(SampleIntervalMs(99), 99000);
}

}  // namespace
}  // namespace kx::recorder
