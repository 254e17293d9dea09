// The wheel through Wine's DirectInput 8, as every Windows game under Wine
// or Proton reads it: winebus makes a HID device of the event node, and a
// small DirectInput program (DInputWheel.cpp, built with mingw-w64) lists,
// describes and reads it. The stage starts the Wine server and makes the
// prefix (WINEPREFIX) beforehand; WENDRIX_DINPUT_READER names the program.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "GameReaders.h"

namespace wendrix::test {
namespace {

// DirectInput's default axis range is 0..65535; Wine scales the HID range
// 0..32768 onto it with MulDiv, rounding to the nearest: v * 65535 / 32768.
constexpr long DInputAxis(long v) { return (v * 65535 + 16384) / 32768; }
static_assert(DInputAxis(0) == 0 && DInputAxis(16384) == 32768 && DInputAxis(32768) == 65535);
static_assert(DInputAxis(8192) == 16384 && DInputAxis(24576) == 49151);

std::string State(long steering, long pedals, const char* buttons) {
  std::ostringstream s;
  s << "state x " << DInputAxis(steering) << " y " << DInputAxis(pedals) << " buttons " << buttons;
  return s.str();
}

// What DirectInput shows before its first report: every axis at mid
// travel, no button pressed.
constexpr const char* kNeutralState = "state x 32767 y 32767 buttons 00000000";

class DirectInputReader : public GameReadersTest {
 protected:
  void SetUp() override {
    GameReadersTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const char* reader = std::getenv("WENDRIX_DINPUT_READER");
    reader_ = reader ? reader : "";
    if (Missing(reader_.empty() || access(reader_.c_str(), R_OK) != 0,
                "the DirectInput program (WENDRIX_DINPUT_READER, built with mingw-w64)"))
      return;
    Missing(!std::getenv("WINEPREFIX"), "a Wine prefix made for the stage (WINEPREFIX)");
  }

  std::string reader_;
};

TEST_F(DirectInputReader, FindsOneGameControllerWithTwoAxesAndEightButtonsThatFollowsTheWheel) {
  // Left of centre, pedals released, before the game starts.
  SendDatagram(8192, 32768);
  Child game({"wine", reader_, "600"});
  ASSERT_TRUE(game.Started());
  const auto hid = game.LineStarting("hid ");
  ASSERT_TRUE(hid) << "no HID state read:\n" << game.Output();
  const auto first = game.LineStarting("state ");
  ASSERT_TRUE(first) << "no state read:\n" << game.Output();

  // Exactly one game controller: the wheel, as a DirectInput joystick.
  const std::string listed = game.Output();
  size_t controllers = 0;
  for (size_t at = 0; (at = listed.find("controller \"", at)) != std::string::npos; ++at) ++controllers;
  EXPECT_EQ(controllers, 1u) << listed;
  EXPECT_NE(listed.find("controller \"Wendrix Virtual Wheel\" type 0x14 "), std::string::npos)
      << "not a DI8DEVTYPE_JOYSTICK:\n"
      << listed;
  EXPECT_NE(listed.find(" vid 0x1209 pid 0x5752\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("caps axes 2 buttons 8 povs 0\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("object \"X Axis\" axis x "), std::string::npos) << listed;
  EXPECT_NE(listed.find("object \"Y Axis\" axis y "), std::string::npos) << listed;
  for (int b = 0; b < 8; ++b) {
    const std::string button = "object \"Button " + std::to_string(b) + "\" button button ";
    EXPECT_NE(listed.find(button), std::string::npos) << button << listed;
  }

  // Wine 8's DirectInput starts at neutral values and does not ask the HID
  // device under it for its report: until the wheel sends its next frame
  // the pedals read half pressed although they are released. The HID
  // device (its axes in SDL's units, -32768 to 32767) holds what reached
  // it since Wine's SDL backend opened the wheel: centred, or the state.
  // docs/games.md says so; if this changes, so must the guide.
  std::printf(
      "wendrix-vm: the wheel shows x 8192, y 32768, no buttons; Wine's HID device reports: %s; "
      "DirectInput reads first: %s\n",
      hid->c_str(), first->c_str());
  EXPECT_TRUE(*hid == "hid x 0 y 0 buttons 00000000" || *hid == "hid x -16384 y 32767 buttons 00000000")
      << "Wine's HID state changed: update docs/games.md";
  EXPECT_EQ(*first, kNeutralState) << "Wine's first state changed: update docs/games.md";

  // From the next frame on it follows the wheel. A change of any control
  // brings the whole state.
  SendFramed(-8192, 16384, 1, 0);  // button 1; the axes stay where they are
  EXPECT_TRUE(game.LineStarting(State(8192, 32768, "10000000")));
  SendDatagram(0, 32768);  // also releases the button, as every datagram
  EXPECT_TRUE(game.LineStarting(State(0, 32768, "00000000")));
  SendDatagram(32768, 0);
  EXPECT_TRUE(game.LineStarting(State(32768, 0, "00000000")));
  SendFramed(0, 8192, 1, 2);  // buttons 1 and 3
  EXPECT_TRUE(game.LineStarting(State(16384, 24576, "10100000")));
  SendFramed(0, 0, 0, 0);
  EXPECT_TRUE(game.LineStarting(State(16384, 16384, "00000000")));

  game.CloseInput();
  EXPECT_EQ(game.Wait(), 0);
  Show("wine dinput_wheel.exe", game.Output());
  const size_t type = listed.find(" type 0x");
  if (type != std::string::npos)
    std::printf("wendrix-vm: Wine's DirectInput:%s\n",
                listed.substr(type, listed.find('\n', type) - type).c_str());
}

}  // namespace
}  // namespace wendrix::test
