// The wheel through Debian's libSDL2, as native Linux games and Steam read
// it: found through udev as on a desktop, and by scanning /dev/input with
// SDL_JOYSTICK_DISABLE_UDEV=1 as in a container or a Flatpak.
#include <SDL.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "GameReaders.h"

namespace wendrix::test {
namespace {

// SDL maps an axis from min..max linearly onto -32768..32767 and rounds
// to the nearest: v -> floor(v * 65535 / 32768 - 32768 + 0.5). The values
// below are exact in SDL's single-precision arithmetic.
constexpr Sint16 SdlAxis(int v) {
  switch (v) {
    case 0:
      return -32768;
    case 8192:
      return -16384;
    case 16384:
      return 0;
    case 24576:
      return 16383;
    case 32768:
      return 32767;
  }
  throw "no exact SDL value for this axis value";
}

struct Mode {
  const char* name;
  bool udev;
};

class SdlReader : public GameReadersTest, public ::testing::WithParamInterface<Mode> {
 protected:
  void SetUp() override {
    GameReadersTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (GetParam().udev) {
      if (Missing(access("/run/udev/control", F_OK) != 0, "a running systemd-udevd")) return;
      unsetenv("SDL_JOYSTICK_DISABLE_UDEV");
    } else {
      setenv("SDL_JOYSTICK_DISABLE_UDEV", "1", 1);
    }
    // What a player of SDL 2.30 or later sets to have the wheel typed as one.
    setenv("SDL_JOYSTICK_WHEEL_DEVICES", "0x1209/0x5752", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
    sdl_ = true;
  }

  void TearDown() override {
    if (controller_) SDL_GameControllerClose(controller_);
    if (joystick_) SDL_JoystickClose(joystick_);
    if (sdl_) SDL_Quit();
    unsetenv("SDL_JOYSTICK_DISABLE_UDEV");
    unsetenv("SDL_JOYSTICK_WHEEL_DEVICES");
  }

  // Waits for SDL to list a joystick, then opens the first.
  void OpenWheel() {
    vjoy::WaitFor([] {
      SDL_PumpEvents();
      return SDL_NumJoysticks() > 0;
    });
    ASSERT_EQ(SDL_NumJoysticks(), 1) << "SDL must list exactly the wheel";
    joystick_ = SDL_JoystickOpen(0);
    ASSERT_NE(joystick_, nullptr) << SDL_GetError();
  }

  // An axis once SDL has read the frame that sets it.
  Sint16 AxisBecomes(int axis, Sint16 expected) {
    vjoy::WaitFor([&] {
      SDL_PumpEvents();
      return SDL_JoystickGetAxis(joystick_, axis) == expected;
    });
    return SDL_JoystickGetAxis(joystick_, axis);
  }

  // The next button event from SDL's queue, as a game's event loop reads it.
  std::string NextButtonEvent() {
    std::string text;
    vjoy::WaitFor([&] {
      SDL_PumpEvents();
      SDL_Event e;
      while (text.empty() && SDL_PollEvent(&e)) {
        if (e.type == SDL_JOYBUTTONDOWN || e.type == SDL_JOYBUTTONUP)
          text =
              std::string(e.type == SDL_JOYBUTTONDOWN ? "down " : "up ") + std::to_string(e.jbutton.button);
      }
      return !text.empty();
    });
    return text;
  }

  void DropEvents() {
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }

  SDL_Joystick* joystick_ = nullptr;
  SDL_GameController* controller_ = nullptr;

 private:
  bool sdl_ = false;
};

const char* TypeName(SDL_JoystickType type) {
  switch (type) {
    case SDL_JOYSTICK_TYPE_UNKNOWN:
      return "SDL_JOYSTICK_TYPE_UNKNOWN";
    case SDL_JOYSTICK_TYPE_GAMECONTROLLER:
      return "SDL_JOYSTICK_TYPE_GAMECONTROLLER";
    case SDL_JOYSTICK_TYPE_WHEEL:
      return "SDL_JOYSTICK_TYPE_WHEEL";
    case SDL_JOYSTICK_TYPE_ARCADE_STICK:
      return "SDL_JOYSTICK_TYPE_ARCADE_STICK";
    case SDL_JOYSTICK_TYPE_FLIGHT_STICK:
      return "SDL_JOYSTICK_TYPE_FLIGHT_STICK";
    default:
      return "another type";
  }
}

std::string GuidText(SDL_JoystickGUID guid) {
  char text[64];
  SDL_JoystickGetGUIDString(guid, text, sizeof text);
  return text;
}

TEST_P(SdlReader, ListsTheWheelAsOneJoystickWithItsNameAndIds) {
  SendDatagram(8192, 0);  // left of centre, pedals fully pressed
  OpenWheel();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_STREQ(SDL_JoystickName(joystick_), "Wendrix Virtual Wheel");
  EXPECT_EQ(SDL_JoystickGetVendor(joystick_), 0x1209);
  EXPECT_EQ(SDL_JoystickGetProduct(joystick_), 0x5752);
  EXPECT_EQ(SDL_JoystickNumAxes(joystick_), 2);
  EXPECT_EQ(SDL_JoystickNumButtons(joystick_), 8);
  EXPECT_EQ(SDL_JoystickNumHats(joystick_), 0);
  EXPECT_EQ(SDL_JoystickNumBalls(joystick_), 0);
  // A joystick, not a game controller: no mapping of SDL's knows it.
  EXPECT_FALSE(SDL_IsGameController(0));
  // SDL takes the wheel's state when it opens it.
  EXPECT_EQ(SDL_JoystickGetAxis(joystick_, 0), SdlAxis(8192));
  EXPECT_EQ(SDL_JoystickGetAxis(joystick_, 1), SdlAxis(0));

  SDL_version version;
  SDL_GetVersion(&version);
  const SDL_JoystickType type = SDL_JoystickGetType(joystick_);
  std::printf("wendrix-vm: SDL %d.%d.%d (%s): \"%s\" type %s, guid %s, %d axes, %d buttons, %d hats\n",
              version.major, version.minor, version.patch, GetParam().name, SDL_JoystickName(joystick_),
              TypeName(type), GuidText(SDL_JoystickGetGUID(joystick_)).c_str(),
              SDL_JoystickNumAxes(joystick_), SDL_JoystickNumButtons(joystick_),
              SDL_JoystickNumHats(joystick_));
  // SDL_JOYSTICK_WHEEL_DEVICES is set: SDL 2.30 and later make it a wheel,
  // older ones know neither the hint nor the wheel.
  if (SDL_VERSIONNUM(version.major, version.minor, version.patch) >= SDL_VERSIONNUM(2, 30, 0))
    EXPECT_EQ(type, SDL_JOYSTICK_TYPE_WHEEL);
  else
    EXPECT_EQ(type, SDL_JOYSTICK_TYPE_UNKNOWN);
}

TEST_P(SdlReader, AxesFollowDatagramsWithSdlsScaling) {
  SendDatagram(16384, 32768);
  OpenWheel();
  ASSERT_FALSE(HasFatalFailure());
  const struct {
    uint16_t steering, pedals;
  } steps[] = {{0, 32768}, {32768, 24576}, {24576, 8192}, {16384, 16384}, {8192, 0}};
  for (const auto& step : steps) {
    SendDatagram(step.steering, step.pedals);
    EXPECT_EQ(AxisBecomes(0, SdlAxis(step.steering)), SdlAxis(step.steering)) << "steering " << step.steering;
    EXPECT_EQ(AxisBecomes(1, SdlAxis(step.pedals)), SdlAxis(step.pedals)) << "pedals " << step.pedals;
  }
}

TEST_P(SdlReader, ButtonsFromAFramedMessageAndALegacyTap) {
  OpenWheel();
  ASSERT_FALSE(HasFatalFailure());
  DropEvents();
  // Buttons 1 and 3: weight 1 and weight 2 counted twice.
  SendFramed(0, 0, 1, 2);
  EXPECT_EQ(NextButtonEvent(), "down 0");
  EXPECT_EQ(NextButtonEvent(), "down 2");
  for (int b = 0; b < 8; ++b)
    EXPECT_EQ(SDL_JoystickGetButton(joystick_, b), b == 0 || b == 2) << "button " << b;
  SendFramed(0, 0, 0, 0);
  EXPECT_EQ(NextButtonEvent(), "up 0");
  EXPECT_EQ(NextButtonEvent(), "up 2");

  // A tap of button 4 that the phone reports in one record reaches the
  // game's event loop as a press and then a release.
  TapOnLegacyStream(4);
  EXPECT_EQ(NextButtonEvent(), "down 3");
  EXPECT_EQ(NextButtonEvent(), "up 3");
}

// The mapping that docs/games.md gives players whose games take only SDL
// game controllers: steering on the left stick, pedals on the right
// trigger, gear up and down on the shoulder buttons.
TEST_P(SdlReader, TheGuidesMappingMakesItAGameController) {
  SendDatagram(16384, 32768);
  OpenWheel();
  ASSERT_FALSE(HasFatalFailure());
  const std::string mapping =
      GuidText(SDL_JoystickGetGUID(joystick_)) +
      ",Wendrix Virtual Wheel,leftx:a0,righttrigger:a1~,rightshoulder:b0,leftshoulder:b1,"
      "a:b2,b:b3,x:b4,y:b5,back:b6,start:b7,platform:Linux,";
  ASSERT_EQ(SDL_GameControllerAddMapping(mapping.c_str()), 1) << SDL_GetError();
  ASSERT_TRUE(SDL_IsGameController(0));
  controller_ = SDL_GameControllerOpen(0);
  ASSERT_NE(controller_, nullptr) << SDL_GetError();
  std::printf("wendrix-vm: SDL game controller mapping: %s\n", mapping.c_str());

  const auto settles = [&](SDL_GameControllerAxis axis, Sint16 expected) {
    vjoy::WaitFor([&] {
      SDL_PumpEvents();
      return SDL_GameControllerGetAxis(controller_, axis) == expected;
    });
    return SDL_GameControllerGetAxis(controller_, axis);
  };
  EXPECT_EQ(settles(SDL_CONTROLLER_AXIS_LEFTX, 0), 0);
  EXPECT_EQ(settles(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 0), 0) << "released pedals";
  SendDatagram(0, 0);
  EXPECT_EQ(settles(SDL_CONTROLLER_AXIS_LEFTX, -32768), -32768);
  EXPECT_EQ(settles(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767), 32767) << "pedals fully pressed";
  // Half way, 0 on the joystick axis, SDL truncates 32767 * 32767 / 65535.
  SendDatagram(32768, 16384);
  EXPECT_EQ(settles(SDL_CONTROLLER_AXIS_LEFTX, 32767), 32767);
  EXPECT_EQ(settles(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 16383), 16383) << "pedals half pressed";

  SendFramed(0, 16384, 0, 1);  // button 2: gear down
  vjoy::WaitFor([&] {
    SDL_PumpEvents();
    return SDL_GameControllerGetButton(controller_, SDL_CONTROLLER_BUTTON_LEFTSHOULDER) == 1;
  });
  EXPECT_EQ(SDL_GameControllerGetButton(controller_, SDL_CONTROLLER_BUTTON_LEFTSHOULDER), 1);
  EXPECT_EQ(SDL_GameControllerGetButton(controller_, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER), 0);
  SendFramed(0, 16384, 0, 0);
}

// The check a player can run: SDL's own testjoystick (package
// libsdl2-tests) draws the joystick in a window and logs what SDL makes of
// it; SDL's dummy video driver stands in for the desktop.
class SdlTestJoystick : public GameReadersTest {};

TEST_F(SdlTestJoystick, LogsTheWheelAsPlayersSeeIt) {
  const std::string program = "/usr/libexec/installed-tests/SDL2/testjoystick";
  if (Missing(access(program.c_str(), X_OK) != 0, "SDL's testjoystick (Debian package libsdl2-tests)"))
    return;
  Child testjoystick({"stdbuf", "-oL", program}, {"SDL_VIDEODRIVER=dummy"});
  ASSERT_TRUE(testjoystick.LineMatching([](const std::string& l) { return l.find("VID/PID:") != l.npos; }))
      << testjoystick.Output();
  testjoystick.Stop();
  Show("SDL_VIDEODRIVER=dummy " + program, testjoystick.Output());
  const std::string log = testjoystick.Output();
  for (const char* line :
       {"INFO: Joystick device 0 added.\n", "name: Wendrix Virtual Wheel\n", "type: Unknown\n", "axes: 2\n",
        "hats: 0\n", "buttons: 8\n", "VID/PID: 0x1209/0x5752\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  EXPECT_EQ(log.find("Joystick device 1 added"), std::string::npos) << "more than one joystick";
}

INSTANTIATE_TEST_SUITE_P(Desktop, SdlReader, ::testing::Values(Mode{"udev", true}));
INSTANTIATE_TEST_SUITE_P(Container, SdlReader, ::testing::Values(Mode{"SDL_JOYSTICK_DISABLE_UDEV=1", false}));

}  // namespace
}  // namespace wendrix::test
