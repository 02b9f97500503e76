#include "core/monitor/transfer_rules.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/device/regmap.h"

namespace kx {
namespace {

using R = TransferRefusal;

TransferFacts Selected(std::uint8_t model, std::uint16_t comWrite, std::uint8_t mode = 0) {
  return TransferFacts{true, true, model, mode, comWrite};
}

struct RuleCase {
  const char* name;
  TransferFacts facts;
  R upload, download, ramp;
};

// One table for the three rules: where they differ is what the table shows.
TEST(TransferRules, EachTransferAsksWhatItNeedsOfTheController) {
  TransferFacts notRead = Selected(kModelKx2, 1);
  notRead.identified = false;
  const std::vector<RuleCase> cases = {
      {"NothingConnected", TransferFacts{}, R::NoController, R::NoController, R::NoController},
      {"DetailNotReadYet", notRead, R::NotIdentified, R::None, R::NotIdentified},
      {"UnknownModel", Selected(kModelUnknown, 1), R::NotIdentified, R::None, R::NotIdentified},
      {"Kx1RemoteWriteOn", Selected(kModelKx1, 1), R::None, R::None, R::NoProgram},
      // The KX1's upload starts with an unlock write: it needs remote writing too.
      {"Kx1RemoteWriteOff", Selected(kModelKx1, 0), R::ComWriteOff, R::ComWriteOff, R::NoProgram},
      {"Kx1RemoteWriteNotReadYet", Selected(kModelKx1, 0xFF), R::ComWriteOff, R::ComWriteOff, R::NoProgram},
      {"Kx2RemoteWriteOn", Selected(kModelKx2, 1), R::None, R::None, R::None},
      {"Kx2RemoteWriteOff", Selected(kModelKx2, 0), R::None, R::ComWriteOff, R::ComWriteOff},
      // A KX3 has no com-write flag; its security mode decides reading.
      {"Kx3AllLocked", Selected(kModelKx3, 0xFF, 1), R::Kx3Locked, R::None, R::Kx3Locked},
      {"Kx3PvSvOnly", Selected(kModelKx3, 0xFF, 2), R::Kx3Locked, R::None, R::Kx3Locked},
      {"Kx3ReadAll", Selected(kModelKx3, 0xFF, 4), R::None, R::None, R::None},
      {"Kx3Unlocked", Selected(kModelKx3, 0xFF, 8), R::None, R::None, R::None},
  };
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UploadRefusal(c.facts), c.upload);
    EXPECT_EQ(DownloadRefusal(c.facts), c.download);
    EXPECT_EQ(RampRefusal(c.facts), c.ramp);
    // The menu offers UPLOAD also when the refusal is told on use; RAMP SOAK PROGRAM only when allowed.
    EXPECT_EQ(UploadOffered(c.facts), c.upload == R::None || c.upload == R::ComWriteOff);
    EXPECT_EQ(RampOffered(c.facts), c.ramp == R::None);
  }
}

TEST(TransferRules, EveryRefusalButNothingConnectedTellsItsReason) {
  EXPECT_EQ(RefusalText(R::None), "");
  EXPECT_EQ(RefusalText(R::NoController), "");
  EXPECT_EQ(RefusalText(R::ComWriteOff), "Please enable COM write function first");
  EXPECT_EQ(RefusalText(R::Kx3Locked), "the controller's security mode does not allow reading its parameters");
  for (const R r : {R::NotIdentified, R::NoProgram}) EXPECT_FALSE(RefusalText(r).empty());
}

}  // namespace
}  // namespace kx
