// A line of controllers behind a FakePort for the monitor window tests: each
// request the engine wrote is answered from a register table per address, in the
// frame form of the request (ASCII or RTU). Silent addresses do not answer.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/modbus/codec.h"
#include "support/fake_port.h"

namespace kx::test {

struct FakeController {
  int modelIndex = 1;  // 0 KX1, 1 KX2, 2 KX3
  bool silent = false;
  std::map<std::uint16_t, std::uint16_t> regs;
  std::uint16_t Reg(std::uint16_t reg) const {
    auto it = regs.find(reg);
    return it == regs.end() ? 0 : it->second;
  }
};

class FakeLine {
 public:
  explicit FakeLine(FakePort& port) : port_(port) {}

  std::map<std::uint8_t, FakeController> controllers;

  // Answers the newest unanswered request, if any; returns false when there was
  // none or its address is silent (the caller then lets the clock run).
  bool AnswerOne() {
    if (answered_ >= port_.written.size()) return false;
    answered_ = port_.written.size();
    const std::optional<Bytes> request = Decode(port_.written.back());
    if (!request || request->size() < 6) return false;
    auto it = controllers.find((*request)[0]);
    if (it == controllers.end() || it->second.silent) return false;
    const Bytes answer = Answer(it->second, *request);
    if (rtu_) {
      port_.Feed(BuildRtuFrame(answer));
    } else {
      port_.Feed(BuildAsciiFrame(answer));
    }
    return true;
  }

  // Answers up to n requests; a silent request lets the clock run to its
  // time-out so the engine moves on. Returns the number of exchanges handled.
  int Run(int n) {
    int done = 0;
    for (; done < n; ++done) {
      if (AnswerOne()) continue;
      if (answered_ < port_.written.size()) continue;
      // Nothing new to answer: a silent device or an answer ended by silence.
      // Let the clock run until the engine sends again.
      const std::size_t before = port_.written.size();
      for (int t = 0; t < 200 && port_.written.size() == before; ++t) port_.Tick(1);
      if (port_.written.size() == before) break;  // engine stopped
    }
    return done;
  }

  std::size_t answered() const { return answered_; }

 private:
  std::optional<Bytes> Decode(const Bytes& frame) {
    if (!frame.empty() && frame[0] == ':') {
      rtu_ = false;
      Bytes bytes;
      for (std::size_t i = 1; i + 1 < frame.size() && frame[i] != '\r'; i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(
            HexPairValue(static_cast<char>(frame[i]), static_cast<char>(frame[i + 1]))));
      }
      if (!bytes.empty()) bytes.pop_back();  // LRC
      return bytes;
    }
    rtu_ = true;
    if (frame.size() < 3) return std::nullopt;
    return Bytes(frame.begin(), frame.end() - 2);
  }

  static Bytes Answer(const FakeController& c, const Bytes& req) {
    const std::uint8_t fn = req[1];
    const auto reg = static_cast<std::uint16_t>(req[2] << 8 | req[3]);
    const auto value = static_cast<std::uint16_t>(req[4] << 8 | req[5]);
    Bytes out{req[0], fn};
    if (fn == 0x06) {
      return req;  // echo
    }
    std::vector<std::uint16_t> words;
    if (fn == 0x67) {
      words = {2, static_cast<std::uint16_t>(c.modelIndex), 0};
    } else {
      for (std::uint16_t i = 0; i < value; ++i) words.push_back(c.Reg(static_cast<std::uint16_t>(reg + i)));
    }
    out.push_back(static_cast<std::uint8_t>(words.size() * 2));
    for (std::uint16_t w : words) {
      out.push_back(static_cast<std::uint8_t>(w >> 8));
      out.push_back(static_cast<std::uint8_t>(w & 0xFF));
    }
    return out;
  }

  FakePort& port_;
  std::size_t answered_ = 0;
  bool rtu_ = false;
};

}  // namespace kx::test
