#include "core/line/port_core.h"

#include <algorithm>

namespace kx {

std::uint16_t TriggerTable::Add() {
  while (nextHandle_ == 0 || expiry_.count(nextHandle_) != 0) ++nextHandle_;
  const std::uint16_t handle = nextHandle_++;
  expiry_[handle] = std::nullopt;
  return handle;
}

void TriggerTable::Arm(std::uint16_t handle, std::int64_t delay, std::int64_t now) {
  auto it = expiry_.find(handle);
  if (it == expiry_.end()) return;
  it->second = now + std::max<std::int64_t>(delay, 1);
}

void TriggerTable::Disarm(std::uint16_t handle) {
  auto it = expiry_.find(handle);
  if (it != expiry_.end()) it->second = std::nullopt;
}

std::optional<std::int64_t> TriggerTable::NextExpiry() const {
  std::optional<std::int64_t> next;
  for (const auto& [handle, expiry] : expiry_) {
    if (expiry && (!next || *expiry < *next)) next = expiry;
  }
  return next;
}

std::optional<std::uint16_t> TriggerTable::TakeDue(std::int64_t now) {
  auto due = expiry_.end();
  for (auto it = expiry_.begin(); it != expiry_.end(); ++it) {
    if (it->second && *it->second <= now && (due == expiry_.end() || *it->second < *due->second)) due = it;
  }
  if (due == expiry_.end()) return std::nullopt;
  due->second = std::nullopt;
  return due->first;
}

bool TriggerTable::Armed(std::uint16_t handle) const {
  auto it = expiry_.find(handle);
  return it != expiry_.end() && it->second.has_value();
}

std::optional<std::int64_t> TriggerTable::ExpiryOf(std::uint16_t handle) const {
  auto it = expiry_.find(handle);
  return it == expiry_.end() ? std::nullopt : it->second;
}

std::size_t ReceiveBuffer::Append(std::span<const std::uint8_t> data) {
  const std::size_t room = kLimit - std::min(bytes_.size(), kLimit);
  const std::size_t take = std::min(room, data.size());
  bytes_.insert(bytes_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(take));
  return take;
}

std::size_t ReceiveBuffer::Read(std::span<std::uint8_t> out) {
  const std::size_t n = std::min(out.size(), bytes_.size());
  std::copy_n(bytes_.begin(), n, out.begin());
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

}  // namespace kx
