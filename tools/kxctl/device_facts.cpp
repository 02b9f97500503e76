#include "kxctl/device_facts.h"

#include <memory>

#include "core/exchange/requests.h"
#include "kxctl/requests.h"

namespace kxctl {
namespace {

int Places(int decimalPoint) {
  if (decimalPoint == kx::kDpRounded) return 1;
  return decimalPoint >= 0 && decimalPoint <= 3 ? decimalPoint : 0;
}

std::int32_t Signed(std::uint16_t word) { return word > 0x7FFF ? static_cast<std::int32_t>(word) - 0x10000 : word; }

// The sequence, one step at a time: each step queues the next from its handler.
struct Learner : std::enable_shared_from_this<Learner> {
  Line& line;
  int address;
  FactsDepth depth;
  DeviceFacts& facts;
  QueueStep queue;
  std::function<void(const kx::Answer*)> done;

  Learner(Line& l, int a, FactsDepth d, DeviceFacts& f, QueueStep q, std::function<void(const kx::Answer*)> dn)
      : line(l), address(a), depth(d), facts(f), queue(std::move(q)), done(std::move(dn)) {}

  std::uint8_t Kx3Mode() const { return facts.rec.security.mode; }

  // Reads the block of a monitor request type and decodes it; `then` follows.
  void Poll(int type, std::function<void()> then) {
    const auto block = kx::RequestBlock(type, facts.model, Kx3Mode());
    if (!block) {
      then();
      return;
    }
    auto self = shared_from_this();
    queue(kx::ReadRequest(line.format(), static_cast<std::uint8_t>(address), block->start, block->count, block->function),
          [self, type, then = std::move(then)](const kx::Answer& a) {
            if (!a.Ok()) {
              self->done(&a);
              return;
            }
            const auto words = a.Words();
            const kx::PollEffects effects = kx::DecodePoll(type, self->facts.model, words, true, self->facts.rec);
            if (effects.decimalPointSet) self->facts.decimalPoint = effects.decimalPoint;
            then();
          });
  }

  void Start() {
    auto self = shared_from_this();
    queue(kx::IdentifyRequest(line.format(), static_cast<std::uint8_t>(address)), [self](const kx::Answer& a) {
      const auto model = kx::IdentifiedModel(a);
      if (!model) {
        self->done(&a);
        return;
      }
      self->facts.answered = true;
      self->facts.model = *model;
      if (self->depth == FactsDepth::Model || *model == kx::kModelUnknown) {
        self->done(nullptr);
        return;
      }
      // A KX3 shows tenths once identified; the others say so in the model detail.
      if (*model == kx::kModelKx3) self->facts.decimalPoint = 1;
      self->Poll(kx::reqtype::kModelDetail, [self] { self->AfterDetail(); });
    });
  }

  void AfterDetail() {
    auto self = shared_from_this();
    if (depth == FactsDepth::Firmware) {
      Poll(kx::reqtype::kStatus4, [self] { self->Finish(); });
      return;
    }
    if (depth == FactsDepth::Transfer) {
      // A KX2 keeps its com-write flag in the block of status poll 2; the
      // others in that of status poll 4, with the firmware version.
      auto status4 = [self] { self->Poll(kx::reqtype::kStatus4, [self] { self->Finish(); }); };
      if (facts.model == kx::kModelKx2) {
        Poll(kx::reqtype::kStatus2, status4);
      } else {
        status4();
      }
      return;
    }
    // KX1 keeps its PV status code in the block of status poll 2.
    const int statusType = facts.model == kx::kModelKx1 ? kx::reqtype::kStatus2 : -1;
    auto values = [self] {
      self->Poll(kx::reqtype::kPvSv, [self] {
        self->facts.pvSvRead = true;
        self->Poll(kx::reqtype::kStatus4, [self] { self->Finish(); });
      });
    };
    if (statusType < 0) {
      values();
    } else {
      Poll(statusType, values);
    }
  }

  void Finish() {
    // Status poll 4 carries the firmware version except on a KX3 below security mode 4.
    facts.firmwareRead = facts.model != kx::kModelKx3 || kx::Kx3FullPoll(Kx3Mode());
    facts.statusRead = true;
    done(nullptr);
  }
};

}  // namespace

void LearnDevice(Line& line, int address, FactsDepth depth, DeviceFacts& facts, const QueueStep& queue,
                 std::function<void(const kx::Answer* failed)> done) {
  facts = DeviceFacts{};
  facts.address = address;
  std::make_shared<Learner>(line, address, depth, facts, queue, std::move(done))->Start();
}

Json EngineeringJson(std::uint16_t word, int decimalPoint) { return Json::Fixed(Signed(word), Places(decimalPoint)); }

std::string EngineeringText(std::uint16_t word, int decimalPoint) {
  return EngineeringJson(word, decimalPoint).Text();
}

}  // namespace kxctl
