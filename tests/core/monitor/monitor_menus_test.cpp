#include "core/monitor/monitor_menus.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/device/regmap.h"

namespace kx {
namespace {

struct MenuCase {
  const char* name;
  MenuFacts facts;
  bool upload, rampSoak, saveAs, save;
};

MenuFacts Running(std::uint8_t model, std::uint8_t mode = 0, std::uint16_t comWrite = 0) {
  MenuFacts f;
  f.running = true;
  f.selectedDetailRead = true;
  f.selectedModel = model;
  f.selectedSecurityMode = mode;
  f.selectedComWrite = comWrite;
  return f;
}

TEST(MonitorMenus, FollowTheSelectedDeviceAndTheBuffer) {
  MenuFacts notRead = Running(kModelKx2, 0, 1);
  notRead.selectedDetailRead = false;
  MenuFacts buffer = Running(kModelKx1);
  buffer.bufferValid = true;
  MenuFacts saved = buffer;
  saved.fileChosen = true;
  MenuFacts chosenNoBuffer = Running(kModelKx1);
  chosenNoBuffer.fileChosen = true;
  const std::vector<MenuCase> cases = {
      {"Kx1", Running(kModelKx1, 0, 1), true, false, false, false},
      {"Kx2RemoteWriteOff", Running(kModelKx2, 0, 0), true, false, false, false},
      {"Kx2RemoteWriteOn", Running(kModelKx2, 0, 1), true, true, false, false},
      {"Kx3Locked", Running(kModelKx3, 2), false, false, false, false},
      {"Kx3Allowed", Running(kModelKx3, 8), true, true, false, false},
      {"DetailNotReadYet", notRead, false, false, false, false},
      {"BufferValid", buffer, true, false, true, false},
      {"BufferSaved", saved, true, false, true, true},
      {"FileChosenButBufferCleared", chosenNoBuffer, true, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const MonitorMenus m = MenusFor(c.facts);
    EXPECT_TRUE(m.file && m.parameter && m.view && m.settingChecked);
    EXPECT_FALSE(m.recordChecked);
    EXPECT_EQ(m.upload, c.upload);
    EXPECT_EQ(m.rampSoak, c.rampSoak);
    EXPECT_EQ(m.saveAs, c.saveAs);
    EXPECT_EQ(m.download, c.saveAs);
    EXPECT_EQ(m.writeAll, c.saveAs);
    EXPECT_EQ(m.save, c.save);
  }
  // Stopped: nothing but what the buffer allows.
  MenuFacts stopped = Running(kModelKx2, 0, 1);
  stopped.running = false;
  EXPECT_EQ(MenusFor(stopped), MonitorMenus{});
}

}  // namespace
}  // namespace kx
