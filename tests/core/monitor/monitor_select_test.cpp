// The device tiles' connections and selection, and what an identification
// answer names, without a port.
#include "core/monitor/monitor_select.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace kx {
namespace {

// A checked RTU answer of `function` from address 1 carrying `data`.
Answer Checked(std::uint8_t function, std::vector<std::uint8_t> data, Failure failure = Failure::None) {
  Answer a;
  a.end = AnswerEnd::Complete;
  a.failure = failure;
  a.function = function;
  if (failure == Failure::Exception && !data.empty()) a.exceptionCode = data[0];
  data.insert(data.begin(), {1, function});
  data.insert(data.end(), {0, 0});  // the CRC's place (not checked here)
  a.frame = std::move(data);
  a.checkLength = 2;
  return a;
}

TEST(Identify, NamesTheModelOrTheFailure) {
  struct Case {
    const char* what;
    Answer answer;
    Failure failure;
    std::uint8_t model;
  };
  const Case cases[] = {
      {"KX1 by 0x77", Checked(kFnKx1Identify, {6, 0, 0, 0, 0, 0, 0}), Failure::None, kModelKx1},
      {"KX1 by the exception E7", Checked(kFnIdentifyError, {1}, Failure::Exception), Failure::None, kModelKx1},
      {"KX2", Checked(kFnIdentify, {6, 0, 2, 0, 1, 0, 0}), Failure::None, kModelKx2},
      {"KX3", Checked(kFnIdentify, {6, 0, 2, 0, 2, 0, 0}), Failure::None, kModelKx3},
      {"none of the known", Checked(kFnIdentify, {6, 0, 2, 0, 7, 0, 0}), Failure::None, kModelUnknown},
      {"two words for three", Checked(kFnIdentify, {4, 0, 2, 0, 1}), Failure::Format, kModelUnknown},
      {"bad check", Checked(kFnIdentify, {6, 0, 2, 0, 1, 0, 0}, Failure::Checksum), Failure::Checksum, kModelUnknown},
      {"silence", Answer{}, Failure::TimedOut, kModelUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Identification id = Identify(c.answer, 3);
    EXPECT_EQ(id.failure, c.failure);
    EXPECT_EQ(id.model, c.model);
  }
}

TEST(DeviceSelection, TheFirstConnectedIsSelectedAndALeavingSelectedOneHandsOnCyclically) {
  DeviceSelection tiles;
  EXPECT_TRUE(tiles.Connect(2));   // the only one
  EXPECT_FALSE(tiles.Connect(2));  // already connected
  tiles.Select(2);
  EXPECT_FALSE(tiles.Connect(0));
  EXPECT_FALSE(tiles.Connect(3));
  EXPECT_EQ(tiles.connectedCount(), 3);
  EXPECT_FALSE(tiles.MaySelect(2));  // selected already
  EXPECT_FALSE(tiles.MaySelect(1));  // not connected
  EXPECT_TRUE(tiles.MaySelect(0));

  const auto left = tiles.Disconnect(2);
  ASSERT_TRUE(left.has_value());
  EXPECT_TRUE(left->wasSelected);
  EXPECT_EQ(left->next, 3);  // the next connected one after it, in cyclic order
  EXPECT_FALSE(left->noneLeft);
  EXPECT_FALSE(tiles.Disconnect(2).has_value());  // not connected any more
  EXPECT_EQ(tiles.Select(3), 2);
  EXPECT_EQ(tiles.Device(3).lastStatusByte, 0xFF);  // its LEDs drawn anew

  const auto other = tiles.Disconnect(0);
  ASSERT_TRUE(other.has_value());
  EXPECT_FALSE(other->wasSelected);
  const auto last = tiles.Disconnect(3);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->next, kNoDevice);
  EXPECT_TRUE(last->noneLeft);
}

TEST(DeviceSelection, AChangedAddressIsClampedAndIdentifiesAConnectedDeviceAgain) {
  DeviceSelection tiles;
  EXPECT_FALSE(tiles.ChangeAddress(1, 0));  // not connected: only the address changes
  EXPECT_EQ(tiles.Device(1).address, 1);
  tiles.Connect(1);
  tiles.Device(1).identifyPending = false;
  tiles.Device(1).detailRead = true;
  EXPECT_TRUE(tiles.ChangeAddress(1, 300));
  EXPECT_EQ(tiles.Device(1).address, 247);
  EXPECT_TRUE(tiles.Device(1).identifyPending);
  EXPECT_FALSE(tiles.Device(1).detailRead);
  EXPECT_FALSE(tiles.ChangeAddress(7, 5));  // no such tile
}

}  // namespace
}  // namespace kx
