// The readers that ask the kernel directly: udev's rules, the joystick API
// (/dev/input/js*) and the programs a player checks the wheel with, jstest
// and evtest.
#include <fcntl.h>
#include <linux/input.h>
#include <linux/joystick.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <thread>

#include "GameReaders.h"

namespace wendrix::test {
namespace {

// The kernel's joystick API corrects every axis into -32767..32767: from
// min 0, max 32768 and flat 0 joydev takes the centre c = 16384 and the
// factor k = 2^29 / 16384, and maps v to k * (v - c) / 2^14, clamped. So
// 0 -> -32768 clamped to -32767, 16384 -> 0, 32768 -> 32768 clamped to
// 32767.
constexpr int16_t kJoydevLeft = -32767;
constexpr int16_t kJoydevCentre = 0;
constexpr int16_t kJoydevRight = 32767;

struct JsEvent {
  uint8_t type;
  uint8_t number;
  int16_t value;
  bool operator==(const JsEvent&) const = default;
};

void PrintTo(const JsEvent& e, std::ostream* os) {
  *os << ((e.type & ~JS_EVENT_INIT) == JS_EVENT_AXIS ? "axis " : "button ") << int{e.number} << " = "
      << e.value << ((e.type & JS_EVENT_INIT) ? " (init)" : "");
}

JsEvent Axis(uint8_t number, int16_t value, uint8_t flags = 0) {
  return {static_cast<uint8_t>(JS_EVENT_AXIS | flags), number, value};
}
JsEvent Button(uint8_t number, int16_t value, uint8_t flags = 0) {
  return {static_cast<uint8_t>(JS_EVENT_BUTTON | flags), number, value};
}

class KernelReaders : public GameReadersTest {
 protected:
  // The next `count` events of a joystick node; fewer at the deadline.
  static std::vector<JsEvent> NextJsEvents(int fd, size_t count) {
    std::vector<JsEvent> events;
    for (const auto end = vjoy::WheelClock::now() + vjoy::kWheelDeadline;
         events.size() < count && vjoy::WheelClock::now() < end;) {
      js_event e;
      if (read(fd, &e, sizeof e) == static_cast<ssize_t>(sizeof e))
        events.push_back({e.type, e.number, e.value});
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return events;
  }

  // udevadm's answer once udev has handled the node.
  static std::string UdevProperties(const std::string& node) {
    std::string text;
    vjoy::WaitFor([&] {
      Child udevadm({"udevadm", "info", "--query=property", "--name=" + node});
      udevadm.Wait();
      text = udevadm.Output();
      return text.find("ID_INPUT_JOYSTICK=1") != std::string::npos;
    });
    return text;
  }
};

TEST_F(KernelReaders, UdevTagsBothNodesAsAJoystickThatTheSeatsUserMayOpen) {
  if (Missing(access("/run/udev/control", F_OK) != 0, "a running systemd-udevd")) return;
  const std::string js = JoystickPath();
  ASSERT_FALSE(js.empty()) << "no joystick node";
  for (const std::string& node : {EventPath(), js}) {
    const std::string properties = UdevProperties(node);
    Show("udevadm info --query=property --name=" + node, properties);
    EXPECT_NE(properties.find("\nID_INPUT=1\n"), std::string::npos) << node;
    EXPECT_NE(properties.find("\nID_INPUT_JOYSTICK=1\n"), std::string::npos) << node;
    for (const char* other :
         {"ID_INPUT_KEY=1", "ID_INPUT_MOUSE=1", "ID_INPUT_KEYBOARD=1", "ID_INPUT_ACCELEROMETER=1"})
      EXPECT_EQ(properties.find(other), std::string::npos) << node << " is also " << other;
    // 70-uaccess.rules: the user at the seat gets an ACL on the node.
    EXPECT_NE(properties.find("\nCURRENT_TAGS="), std::string::npos) << node;
    const size_t tags = properties.find("\nCURRENT_TAGS=");
    const std::string tagLine = properties.substr(tags + 1, properties.find('\n', tags + 1) - tags - 1);
    EXPECT_NE(tagLine.find(":uaccess:"), std::string::npos) << tagLine;
    EXPECT_NE(tagLine.find(":seat:"), std::string::npos) << tagLine;
  }
}

TEST_F(KernelReaders, JoystickApiShowsTwoAxesAndEightButtonsWithTheKernelsScaling) {
  SendDatagram(16384, 32768);  // centred, pedals released
  const std::string path = JoystickPath();
  ASSERT_FALSE(path.empty()) << "joydev made no js node for the wheel";
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);

  uint8_t axes = 0, buttons = 0;
  char name[128] = {};
  ASSERT_EQ(ioctl(fd, JSIOCGAXES, &axes), 0);
  ASSERT_EQ(ioctl(fd, JSIOCGBUTTONS, &buttons), 0);
  ASSERT_GE(ioctl(fd, JSIOCGNAME(sizeof name), name), 0);
  EXPECT_EQ(axes, 2);
  EXPECT_EQ(buttons, 8);
  EXPECT_STREQ(name, "Wendrix Virtual Wheel");
  std::array<uint8_t, ABS_CNT> axisMap{};
  std::array<uint16_t, KEY_MAX - BTN_MISC + 1> buttonMap{};
  ASSERT_GE(ioctl(fd, JSIOCGAXMAP, axisMap.data()), 0);
  ASSERT_GE(ioctl(fd, JSIOCGBTNMAP, buttonMap.data()), 0);
  EXPECT_EQ(axisMap[0], ABS_X);
  EXPECT_EQ(axisMap[1], ABS_Y);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(buttonMap[static_cast<size_t>(i)], BTN_TRIGGER + i) << "button " << i;

  // A new reader gets the wheel's state first, marked as initial.
  std::vector<JsEvent> initial;
  for (uint8_t b = 0; b < 8; ++b) initial.push_back(Button(b, 0, JS_EVENT_INIT));
  initial.push_back(Axis(0, kJoydevCentre, JS_EVENT_INIT));
  initial.push_back(Axis(1, kJoydevRight, JS_EVENT_INIT));
  EXPECT_EQ(NextJsEvents(fd, initial.size()), initial);

  SendDatagram(0, 32768);
  EXPECT_EQ(NextJsEvents(fd, 1), std::vector{Axis(0, kJoydevLeft)});
  SendDatagram(32768, 32768);
  EXPECT_EQ(NextJsEvents(fd, 1), std::vector{Axis(0, kJoydevRight)});
  SendDatagram(16384, 0);
  EXPECT_EQ(NextJsEvents(fd, 2), (std::vector{Axis(0, kJoydevCentre), Axis(1, kJoydevLeft)}));
  SendDatagram(16384, 16384);
  EXPECT_EQ(NextJsEvents(fd, 1), std::vector{Axis(1, kJoydevCentre)});

  // Buttons 1 and 3 (weights 1 and 2 x 2) from a framed message, then released.
  SendFramed(0, 0, 1, 2);
  EXPECT_EQ(NextJsEvents(fd, 2), (std::vector{Button(0, 1), Button(2, 1)}));
  SendFramed(0, 0, 0, 0);
  EXPECT_EQ(NextJsEvents(fd, 2), (std::vector{Button(0, 0), Button(2, 0)}));
  close(fd);
}

TEST_F(KernelReaders, JstestAndEvtestSeeTheWheelMove) {
  if (Missing(access("/usr/bin/jstest", X_OK) != 0, "jstest (Debian package joystick)")) return;
  if (Missing(access("/usr/bin/evtest", X_OK) != 0, "evtest (Debian package evtest)")) return;
  const auto has = [](const char* text) {
    return [text](const std::string& l) { return l.find(text) != l.npos; };
  };
  // evtest takes the device for itself for a moment after "Testing", to
  // see whether another program holds it; no other reader sees what the
  // wheel does meanwhile. Its first event shows that moment is over.
  Child evtest({"evtest", EventPath()});
  ASSERT_TRUE(evtest.LineStarting("Testing"));
  SendDatagram(16384, 24576);
  ASSERT_TRUE(evtest.LineMatching(has("code 1 (ABS_Y), value 24576")));
  SendDatagram(16384, 32768);
  // jstest prints the state first; the last of it is axis 1. Line-buffered,
  // as on a terminal.
  Child jstest({"stdbuf", "-oL", "jstest", "--event", JoystickPath()});
  ASSERT_TRUE(jstest.LineStarting("Event: type 130, "));
  ASSERT_TRUE(jstest.LineMatching(has("number 1, value 32767")));

  SendDatagram(0, 32768);
  SendFramed(0, -16384, 1, 0);
  EXPECT_TRUE(jstest.LineMatching(has("type 2, time")));
  EXPECT_TRUE(jstest.LineMatching(has("type 1, time")));
  EXPECT_TRUE(evtest.LineMatching(has("type 1 (EV_KEY), code 288 (BTN_TRIGGER), value 1")));
  SendFramed(0, 0, 0, 0);
  EXPECT_TRUE(evtest.LineMatching(has("code 288 (BTN_TRIGGER), value 0")));
  jstest.Stop();
  evtest.Stop();
  Show("jstest --event " + JoystickPath(), jstest.Output());
  Show("evtest " + EventPath(), evtest.Output());

  const std::string js = jstest.Output();
  EXPECT_NE(js.find("Joystick (Wendrix Virtual Wheel) has 2 axes (X, Y)\n"), std::string::npos);
  EXPECT_NE(
      js.find(
          "and 8 buttons (Trigger, ThumbBtn, ThumbBtn2, TopBtn, TopBtn2, PinkieBtn, BaseBtn, BaseBtn2).\n"),
      std::string::npos);
  // Steering full left, then pedals fully pressed and button 1 from the frame.
  EXPECT_NE(js.find(", number 0, value -32767\n"), std::string::npos);
  EXPECT_NE(js.find(", number 1, value -32767\n"), std::string::npos);
  const std::string ev = evtest.Output();
  EXPECT_NE(ev.find("Input device ID: bus 0x6 vendor 0x1209 product 0x5752 version 0x1\n"),
            std::string::npos);
  EXPECT_NE(ev.find("Input device name: \"Wendrix Virtual Wheel\"\n"), std::string::npos);
  EXPECT_NE(ev.find("type 3 (EV_ABS), code 0 (ABS_X), value 0\n"), std::string::npos);
  EXPECT_NE(ev.find("type 3 (EV_ABS), code 1 (ABS_Y), value 0\n"), std::string::npos);
}

}  // namespace
}  // namespace wendrix::test
