// The trigger and receive rules every port shares, on a plain tick count.
#include "core/line/port_core.h"
#include "support/fake_port.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <vector>

namespace kx {
namespace {

std::vector<std::uint16_t> FireUntil(TriggerTable& table, std::int64_t from, std::int64_t to) {
  std::vector<std::uint16_t> fired;
  for (std::int64_t now = from; now <= to; ++now) {
    while (const auto due = table.TakeDue(now)) fired.push_back(*due);
  }
  return fired;
}

TEST(TriggerTableTest, FiresOnceEarliestFirstAndRearmingReplaces) {
  TriggerTable table;
  const std::uint16_t a = table.Add();
  const std::uint16_t b = table.Add();
  const std::uint16_t c = table.Add();
  EXPECT_NE(a, 0);
  EXPECT_FALSE(table.NextExpiry());
  table.Arm(a, 5, 0);
  table.Arm(b, 2, 0);
  table.Arm(c, 5, 0);
  table.Arm(b, 3, 1);  // re-armed: the first arming is gone
  EXPECT_EQ(table.NextExpiry(), 4);
  EXPECT_EQ(FireUntil(table, 0, 10), (std::vector<std::uint16_t>{b, a, c}));  // a tie goes by handle
  EXPECT_FALSE(table.NextExpiry());  // each fired once

  table.Arm(a, 0, 20);  // at least one unit
  EXPECT_EQ(table.ExpiryOf(a), 21);
  table.Disarm(a);
  EXPECT_TRUE(FireUntil(table, 20, 30).empty());
  table.Arm(0x7777, 1, 0);  // a handle no trigger holds is ignored
  EXPECT_FALSE(table.NextExpiry());
}

TEST(TriggerTableTest, ClearedTriggersNeverFireAndHandlesAreNotReusedWhileLive) {
  TriggerTable table;
  const std::uint16_t a = table.Add();
  table.Arm(a, 2, 0);
  table.Clear();
  EXPECT_TRUE(FireUntil(table, 0, 5).empty());
  std::array<std::uint16_t, 3> handles{table.Add(), table.Add(), table.Add()};
  EXPECT_NE(handles[0], handles[1]);
  EXPECT_NE(handles[1], handles[2]);
  EXPECT_EQ(table.Size(), 3U);
}

TEST(ReceiveBufferTest, CapsWhatItKeepsAndReadsInOrder) {
  ReceiveBuffer rx;
  const std::vector<std::uint8_t> bytes(ReceiveBuffer::kLimit - 2, 0x41);
  EXPECT_EQ(rx.Append(bytes), bytes.size());
  const std::array<std::uint8_t, 5> tail{1, 2, 3, 4, 5};
  EXPECT_EQ(rx.Append(tail), 2U);  // only what fits
  EXPECT_EQ(rx.Append(tail), 0U);
  EXPECT_EQ(rx.Size(), ReceiveBuffer::kLimit);

  rx.Clear();
  std::array<std::uint8_t, 3> out{};
  EXPECT_EQ(rx.Read(out), 0U);  // nothing waits
  rx.Append(tail);
  EXPECT_EQ(rx.Read(out), 3U);
  EXPECT_EQ(out, (std::array<std::uint8_t, 3>{1, 2, 3}));
  EXPECT_EQ(rx.Read(std::span(out).first(1)), 1U);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(rx.Read(out), 1U);
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(rx.Size(), 0U);
}

// Discard drops in chunks: more than one chunk, then more than is waiting.
TEST(ComPortTest, DiscardDropsTheOldestBytesUpToWhatWaits) {
  test::FakePort port;
  port.Open();
  std::vector<std::uint8_t> bytes(600);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
  port.Feed(bytes);
  EXPECT_EQ(port.Discard(500), 500U);
  std::array<std::uint8_t, 1> next{};
  EXPECT_EQ(port.Read(next), 1U);
  EXPECT_EQ(next[0], static_cast<std::uint8_t>(500));
  EXPECT_EQ(port.Discard(1000), 99U);
  EXPECT_EQ(port.CharsWaiting(), 0U);
  EXPECT_EQ(port.Discard(10), 0U);
}

}  // namespace
}  // namespace kx
