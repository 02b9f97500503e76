#include "core/line/rfc2217.h"

#include <utility>

namespace kx::rfc2217 {
namespace {

constexpr std::uint8_t kLastCommand = static_cast<std::uint8_t>(Command::PurgeData);

// Bytes of the value each command carries (SIGNATURE: text of any length).
std::size_t ValueWidth(Command command) {
  switch (command) {
    case Command::Signature: return 0;
    case Command::SetBaudrate: return 4;
    default: return 1;
  }
}

Bytes CommandBytes(std::uint8_t code, Command command, std::uint32_t value) {
  Bytes payload{code};
  const std::size_t width = ValueWidth(command);
  for (std::size_t i = width; i > 0; --i) payload.push_back(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
  return Subnegotiation(kOptComPort, payload);
}

}  // namespace

Bytes Escape(std::span<const std::uint8_t> data) {
  Bytes out;
  out.reserve(data.size() + 8);
  for (const std::uint8_t b : data) {
    out.push_back(b);
    if (b == kIac) out.push_back(kIac);
  }
  return out;
}

Bytes Negotiation(std::uint8_t verb, std::uint8_t option) { return {kIac, verb, option}; }

Bytes Subnegotiation(std::uint8_t option, std::span<const std::uint8_t> payload) {
  Bytes out{kIac, kSb, option};
  if (option == kIac) out.push_back(kIac);
  const Bytes escaped = Escape(payload);
  out.insert(out.end(), escaped.begin(), escaped.end());
  out.push_back(kIac);
  out.push_back(kSe);
  return out;
}

Bytes ComPortRequest(Command command, std::uint32_t value) {
  return CommandBytes(static_cast<std::uint8_t>(command), command, value);
}

Bytes ComPortReply(Command command, std::uint32_t value) {
  return CommandBytes(static_cast<std::uint8_t>(static_cast<std::uint8_t>(command) + kServerOffset), command, value);
}

std::optional<ComPortMessage> ParseComPort(std::span<const std::uint8_t> payload) {
  if (payload.empty()) return std::nullopt;
  ComPortMessage msg;
  std::uint8_t code = payload[0];
  if (code >= kServerOffset) {
    msg.fromServer = true;
    code = static_cast<std::uint8_t>(code - kServerOffset);
  }
  if (code > kLastCommand) return std::nullopt;
  msg.command = static_cast<Command>(code);
  const auto value = payload.subspan(1);
  msg.raw.assign(value.begin(), value.end());
  if (msg.command == Command::Signature) return msg;
  if (value.size() != ValueWidth(msg.command)) return std::nullopt;
  for (const std::uint8_t b : value) msg.value = (msg.value << 8) | b;
  return msg;
}

void Decoder::Feed(std::span<const std::uint8_t> input, std::vector<Item>& items) {
  // Consecutive data merges only within one call: a caller that keeps items
  // between calls still sees them in order.
  const std::size_t firstNew = items.size();
  auto addData = [&](std::uint8_t byte) {
    if (items.size() == firstNew || items.back().kind != Item::Kind::Data) items.push_back(Item{});
    items.back().bytes.push_back(byte);
  };
  for (const std::uint8_t b : input) {
    switch (state_) {
      case State::Data:
        if (b == kIac)
          state_ = State::Iac;
        else
          addData(b);
        break;
      case State::Iac:
        if (b == kIac) {
          addData(b);
          state_ = State::Data;
        } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
          verb_ = b;
          state_ = State::Verb;
        } else if (b == kSb) {
          sb_.clear();
          sbOverflow_ = false;
          state_ = State::Sb;
        } else {
          state_ = State::Data;  // NOP, GA, BREAK, a stray SE ...: nothing to do
        }
        break;
      case State::Verb:
        items.push_back(Item{Item::Kind::Negotiation, verb_, b, {}});
        state_ = State::Data;
        break;
      case State::Sb:
        if (b == kIac) {
          state_ = State::SbIac;
        } else if (sb_.size() < kMaxSubnegotiation) {
          sb_.push_back(b);
        } else {
          sbOverflow_ = true;
        }
        break;
      case State::SbIac:
        if (b == kIac) {
          if (sb_.size() < kMaxSubnegotiation)
            sb_.push_back(b);
          else
            sbOverflow_ = true;
          state_ = State::Sb;
        } else if (b == kSe) {
          if (!sbOverflow_ && !sb_.empty())
            items.push_back(Item{Item::Kind::Subnegotiation, 0, sb_[0], Bytes(sb_.begin() + 1, sb_.end())});
          sb_.clear();
          state_ = State::Data;
        } else {
          // IAC followed by anything but IAC or SE inside a subnegotiation:
          // the subnegotiation was cut off. Drop it and read the byte as the
          // command after an IAC.
          sb_.clear();
          state_ = State::Iac;
          if (b == kWill || b == kWont || b == kDo || b == kDont) {
            verb_ = b;
            state_ = State::Verb;
          } else if (b == kSb) {
            sbOverflow_ = false;
            state_ = State::Sb;
          } else {
            state_ = State::Data;
          }
        }
        break;
    }
  }
}

Negotiator::Negotiator(std::set<std::uint8_t> local, std::set<std::uint8_t> remote)
    : acceptLocal_(std::move(local)), acceptRemote_(std::move(remote)) {}

Negotiator::Q Negotiator::Get(const std::map<std::uint8_t, Q>& m, std::uint8_t option) {
  const auto it = m.find(option);
  return it == m.end() ? Q::No : it->second;
}

Bytes Negotiator::Start() {
  Bytes out;
  for (const std::uint8_t option : acceptLocal_) {
    if (Get(local_, option) == Q::Yes || Get(local_, option) == Q::WantYes) continue;
    local_[option] = Q::WantYes;
    const Bytes b = Negotiation(kWill, option);
    out.insert(out.end(), b.begin(), b.end());
  }
  for (const std::uint8_t option : acceptRemote_) {
    if (Get(remote_, option) == Q::Yes || Get(remote_, option) == Q::WantYes) continue;
    remote_[option] = Q::WantYes;
    const Bytes b = Negotiation(kDo, option);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

Bytes Negotiator::Receive(std::uint8_t verb, std::uint8_t option) {
  // WILL/WONT speak of the other end's side of an option, DO/DONT of ours.
  const bool aboutRemote = verb == kWill || verb == kWont;
  const bool enable = verb == kWill || verb == kDo;
  if (!aboutRemote && verb != kDo && verb != kDont) return {};
  auto& states = aboutRemote ? remote_ : local_;
  const auto& accept = aboutRemote ? acceptRemote_ : acceptLocal_;
  const std::uint8_t yes = aboutRemote ? kDo : kWill;
  const std::uint8_t no = aboutRemote ? kDont : kWont;
  const Q state = Get(states, option);

  if (enable) {
    if (accept.count(option) == 0) return Negotiation(no, option);
    states[option] = Q::Yes;
    return state == Q::Yes || state == Q::WantYes ? Bytes{} : Negotiation(yes, option);
  }
  if (state == Q::Yes) {
    states[option] = Q::No;
    return Negotiation(no, option);
  }
  if (state == Q::WantYes) states[option] = Q::Refused;
  return {};
}

bool Negotiator::LocalEnabled(std::uint8_t option) const { return Get(local_, option) == Q::Yes; }
bool Negotiator::RemoteEnabled(std::uint8_t option) const { return Get(remote_, option) == Q::Yes; }
bool Negotiator::LocalRefused(std::uint8_t option) const { return Get(local_, option) == Q::Refused; }
bool Negotiator::RemoteRefused(std::uint8_t option) const { return Get(remote_, option) == Q::Refused; }

}  // namespace kx::rfc2217
