// The real driver library against the kernel. Where /dev/uinput cannot be
// opened the device tests skip; the VM stage (tests/vm) runs this program
// in a guest whose kernel has uinput.
#include <gtest/gtest.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "ReportTranslation.h"
#include "WheelEventNode.h"
#include "joystick/DynamicLibrary.h"
#include "joystick/JoystickReport.h"
#include "joystick/VJoyApi.h"

namespace wendrix::vjoy {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kDeadline = kWheelDeadline;

// The five calls of the real library, bound by absolute path.
struct RealDriver {
  VJoyEnabledFn enabled;
  GetVJDStatusFn status;
  AcquireVJDFn acquire;
  UpdateVJDFn update;
  RelinquishVJDFn relinquish;

  static const RealDriver& Get() {
    static const RealDriver driver = [] {
      const char* env = std::getenv("WENDRIX_VJOY_LIBRARY");
      const std::string path = env && *env ? env : WENDRIX_REAL_DRIVER;
      void* lib = OpenLibrary(path);
      if (!lib) {
        ADD_FAILURE() << "cannot load " << path;
        std::abort();
      }
      return RealDriver{
          reinterpret_cast<VJoyEnabledFn>(FindSymbol(lib, "vJoyEnabled")),
          reinterpret_cast<GetVJDStatusFn>(FindSymbol(lib, "GetVJDStatus")),
          reinterpret_cast<AcquireVJDFn>(FindSymbol(lib, "AcquireVJD")),
          reinterpret_cast<UpdateVJDFn>(FindSymbol(lib, "UpdateVJD")),
          reinterpret_cast<RelinquishVJDFn>(FindSymbol(lib, "RelinquishVJD")),
      };
    }();
    return driver;
  }

  bool Update(int32_t x, int32_t y, uint32_t buttons) const {
    JoystickReport report{};
    report.axisX = x;
    report.axisY = y;
    report.buttons = buttons;
    return VJoyTrue(update(1, &report));
  }
};

// --- Calls that need no device ---------------------------------------------

TEST(RealDriverLibrary, OnlyDeviceOneExists) {
  const RealDriver& d = RealDriver::Get();
  JoystickReport report{};
  for (uint32_t device : {0u, 2u, 16u, 0xFFFFFFFFu}) {
    EXPECT_EQ(d.status(device), VJD_STAT_MISS) << device;
    EXPECT_FALSE(VJoyTrue(d.acquire(device))) << device;
    EXPECT_FALSE(VJoyTrue(d.update(device, &report))) << device;
    d.relinquish(device);
  }
}

TEST(RealDriverLibrary, EnabledExactlyWhenUinputIsWritable) {
  EXPECT_EQ(VJoyTrue(RealDriver::Get().enabled()), UinputWritable());
}

TEST(RealDriverLibrary, UpdateWithoutAnAcquiredDeviceFails) {
  const RealDriver& d = RealDriver::Get();
  d.relinquish(1);
  d.relinquish(1);
  EXPECT_FALSE(d.Update(1, 2, 3));
  EXPECT_FALSE(VJoyTrue(d.update(1, nullptr)));
}

TEST(RealDriverLibrary, WithoutUinputDeviceOneIsMissing) {
  if (UinputWritable()) GTEST_SKIP() << "/dev/uinput is writable here";
  const RealDriver& d = RealDriver::Get();
  EXPECT_FALSE(VJoyTrue(d.enabled()));
  EXPECT_EQ(d.status(1), VJD_STAT_MISS);
  EXPECT_FALSE(VJoyTrue(d.acquire(1)));
  EXPECT_FALSE(d.Update(1, 2, 3));
}

// --- The real device ----------------------------------------------------------

class UinputWheel : public ::testing::Test {
 protected:
  const RealDriver& d = RealDriver::Get();
  EventNode node;

  void SetUp() override {
    if (!UinputWritable())
      GTEST_SKIP() << "no writable /dev/uinput on this machine; the VM stage (tests/vm) runs this test on a "
                      "real kernel";
    if (d.status(1) == VJD_STAT_BUSY) GTEST_SKIP() << "another process's Wendrix Virtual Wheel is registered";
    ASSERT_EQ(d.status(1), VJD_STAT_FREE);
    ASSERT_TRUE(VJoyTrue(d.acquire(1)));
    ASSERT_TRUE(node.Open()) << "no event node for the wheel";
  }

  void TearDown() override { d.relinquish(1); }

  // Updates and expects exactly `frame` next on the node.
  void ExpectFrame(int32_t x, int32_t y, uint32_t buttons, const Frame& frame) {
    ASSERT_TRUE(d.Update(x, y, buttons));
    std::optional<Frame> got = node.NextFrame();
    ASSERT_TRUE(got) << "no frame after update " << x << "," << y << "," << buttons;
    // The kernel closes a packet of ten events itself, with a SYN_REPORT
    // of value 1 that absorbs the library's own.
    if (got->size() > 10 && got->back() == WheelEvent{EV_SYN, SYN_REPORT, 1}) got->back().value = 0;
    EXPECT_EQ(*got, frame) << "after update " << x << "," << y << "," << buttons;
  }
};

TEST_F(UinputWheel, HasExactlyTwoAxesAndEightButtons) {
  EXPECT_EQ(d.status(1), VJD_STAT_OWN);
  libevdev* dev = node.Evdev();
  ASSERT_NE(dev, nullptr);
  EXPECT_STREQ(libevdev_get_name(dev), "Wendrix Virtual Wheel");
  EXPECT_EQ(libevdev_get_id_bustype(dev), BUS_VIRTUAL);
  EXPECT_EQ(libevdev_get_id_vendor(dev), 0x1209);
  EXPECT_EQ(libevdev_get_id_product(dev), 0x5752);
  for (unsigned type = 0; type <= EV_MAX; ++type) {
    EXPECT_EQ(libevdev_has_event_type(dev, type) != 0, type == EV_SYN || type == EV_KEY || type == EV_ABS)
        << type;
  }
  for (unsigned code = 0; code <= ABS_MAX; ++code) {
    EXPECT_EQ(libevdev_has_event_code(dev, EV_ABS, code) != 0, code == ABS_X || code == ABS_Y) << code;
  }
  for (unsigned code = 0; code <= KEY_MAX; ++code) {
    EXPECT_EQ(libevdev_has_event_code(dev, EV_KEY, code) != 0, code >= BTN_TRIGGER && code <= BTN_BASE2)
        << code;
  }
  for (unsigned prop = 0; prop <= INPUT_PROP_MAX; ++prop)
    EXPECT_FALSE(libevdev_has_property(dev, prop)) << prop;
  for (unsigned axis : {ABS_X, ABS_Y}) {
    const input_absinfo* info = libevdev_get_abs_info(dev, axis);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->minimum, 0);
    EXPECT_EQ(info->maximum, 32768);
    EXPECT_EQ(info->value, axis == ABS_X ? 16384 : 32768) << "centred steering, released pedals";
  }
}

TEST_F(UinputWheel, UdevClassifiesItAsAJoystick) {
  const char* env = std::getenv("WENDRIX_UDEVADM");
  const std::string udevadm = env && *env ? env : "/usr/bin/udevadm";
  if (access(udevadm.c_str(), X_OK) != 0) GTEST_SKIP() << "no udevadm at " << udevadm;
  const std::string cmd =
      udevadm + " test-builtin input_id /sys/class/input/" + node.Entry() + " 2>/dev/null";
  FILE* out = popen(cmd.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string text;
  char buf[256];
  while (size_t n = fread(buf, 1, sizeof buf, out)) text.append(buf, n);
  pclose(out);
  EXPECT_NE(text.find("ID_INPUT_JOYSTICK=1"), std::string::npos) << text;
  EXPECT_EQ(text.find("ID_INPUT_KEY=1"), std::string::npos) << text;
  EXPECT_EQ(text.find("ID_INPUT_MOUSE=1"), std::string::npos) << text;
}

TEST_F(UinputWheel, UpdatesReadBackAsExactlyTheChangedEventsAndSyns) {
  struct Step {
    int32_t x, y;
    uint32_t buttons;
    Frame frame;  // empty: the report changes nothing and must emit nothing
  };
  std::vector<Step> steps = {
      {0, 32768, 0, {AbsX(0), Syn}},  // the program's idle report: steering leaves the centre
      {0, 32768, 0, {}},
      {0, 32768, 0xFFFFFF00u, {}},  // only bits above button 8
  };
  for (int32_t x = 4096; x <= 32768; x += 4096) steps.push_back({x, 32768, 0, {AbsX(x), Syn}});
  for (int32_t y = 24576; y >= 0; y -= 8192) steps.push_back({32768, y, 0, {AbsY(y), Syn}});
  const std::vector<Step> more = {
      {32768, 0, 0, {}},
      {32768, 0, 0b01, {Key(1, 1), Syn}},  // gear up pressed
      {32768, 0, 0b11, {Key(2, 1), Syn}},  // gear down pressed while gear up is held
      {32768, 0, 0b11, {}},
      {32768, 0, 0b00, {Key(1, 0), Key(2, 0), Syn}},
      {16384,
       32768,
       0xFF,
       {AbsX(16384), AbsY(32768), Key(1, 1), Key(2, 1), Key(3, 1), Key(4, 1), Key(5, 1), Key(6, 1), Key(7, 1),
        Key(8, 1), Syn}},
      {16384, 32768, 0x1FF, {}},
      {16384, 32768, 0x7F, {Key(8, 0), Syn}},
      {-100, 99999, 0x7F, {AbsX(0), Syn}},  // out of range: clamped to 0..32768
      {99999, -5, 0x7F, {AbsX(32768), AbsY(0), Syn}},
      {99999, -5, 0x7F, {}},
      {1,
       2,
       0,
       {AbsX(1), AbsY(2), Key(1, 0), Key(2, 0), Key(3, 0), Key(4, 0), Key(5, 0), Key(6, 0), Key(7, 0), Syn}},
  };
  steps.insert(steps.end(), more.begin(), more.end());

  for (const Step& step : steps) {
    if (!step.frame.empty()) {
      ExpectFrame(step.x, step.y, step.buttons, step.frame);
      if (HasFatalFailure()) return;
    } else {
      ASSERT_TRUE(d.Update(step.x, step.y, step.buttons));
    }
  }
  EXPECT_FALSE(node.NextFrame(200ms)) << "nothing more was emitted";
}

TEST_F(UinputWheel, RelinquishRemovesTheNodeAndASecondAcquisitionWorks) {
  ExpectFrame(100, 200, 1, {AbsX(100), AbsY(200), Key(1, 1), Syn});
  const std::string entry = node.Entry();
  d.relinquish(1);
  node.Close();
  EXPECT_TRUE(WaitFor([&] { return !fs::exists("/sys/class/input/" + entry); }))
      << entry << " stays registered";
  EXPECT_TRUE(WaitFor([&] { return !fs::exists("/dev/input/" + entry); }))
      << "/dev/input/" << entry << " stays";
  EXPECT_TRUE(WheelEventNode().empty());
  EXPECT_EQ(d.status(1), VJD_STAT_FREE);
  EXPECT_FALSE(d.Update(1, 2, 3));

  ASSERT_TRUE(VJoyTrue(d.acquire(1)));
  EXPECT_TRUE(VJoyTrue(d.acquire(1))) << "acquiring an owned device again succeeds";
  EXPECT_EQ(d.status(1), VJD_STAT_OWN);
  ASSERT_TRUE(node.Open());
  // A new device starts from the initial state again.
  ExpectFrame(100, 200, 1, {AbsX(100), AbsY(200), Key(1, 1), Syn});
}

TEST_F(UinputWheel, AWheelOfAnotherProcessMakesDeviceOneBusy) {
  d.relinquish(1);
  node.Close();
  ASSERT_TRUE(WaitFor([] { return WheelEventNode().empty(); }));

  // Another instance's wheel: same name, bus and ids.
  libevdev* dev = libevdev_new();
  libevdev_set_name(dev, kWheelName);
  libevdev_set_id_bustype(dev, BUS_VIRTUAL);
  libevdev_set_id_vendor(dev, kWheelVendor);
  libevdev_set_id_product(dev, kWheelProduct);
  libevdev_enable_event_code(dev, EV_KEY, BTN_TRIGGER, nullptr);
  libevdev_uinput* other = nullptr;
  ASSERT_EQ(libevdev_uinput_create_from_device(dev, LIBEVDEV_UINPUT_OPEN_MANAGED, &other), 0);
  libevdev_free(dev);
  EXPECT_TRUE(WaitFor([&] { return d.status(1) == VJD_STAT_BUSY; }));
  EXPECT_FALSE(VJoyTrue(d.acquire(1)));
  EXPECT_FALSE(d.Update(1, 2, 3));
  libevdev_uinput_destroy(other);

  EXPECT_TRUE(WaitFor([&] { return d.status(1) == VJD_STAT_FREE; }));
  ASSERT_TRUE(VJoyTrue(d.acquire(1)));
  ASSERT_TRUE(node.Open());
  ExpectFrame(7, 8, 0, {AbsX(7), AbsY(8), Syn});
}

// Wheels registered under the wheel's name, this process's and others'.
int RegisteredWheels() {
  int count = 0;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator("/sys/class/input", error)) {
    std::ifstream name(entry.path() / "name");
    std::string text;
    if (std::getline(name, text) && text == kWheelName) ++count;
  }
  return count;
}

// Programs started at the same moment: one of them gets the wheel, the
// others find device 1 busy, and one wheel is registered.
TEST_F(UinputWheel, ProgramsAcquiringAtOnceMakeOneWheel) {
  d.relinquish(1);
  node.Close();
  ASSERT_TRUE(WaitFor([] { return RegisteredWheels() == 0; }));
  constexpr int kPrograms = 4;
  for (int round = 0; round < 5; ++round) {
    int go[2], results[2], release[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(results), 0);
    ASSERT_EQ(pipe(release), 0);
    std::vector<pid_t> programs;
    for (int i = 0; i < kPrograms; ++i) {
      const pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        close(go[1]);
        close(results[0]);
        close(release[1]);
        char c;
        if (read(go[0], &c, 1) != 0) _exit(2);  // the end of the pipe says go
        const char got = VJoyTrue(d.acquire(1)) ? '1' : '0';
        if (write(results[1], &got, 1) != 1) _exit(2);
        if (read(release[0], &c, 1) != 0) _exit(2);  // holds it until told
        d.relinquish(1);
        _exit(0);
      }
      programs.push_back(pid);
    }
    close(go[0]);
    close(results[1]);
    close(release[0]);
    close(go[1]);
    int owners = 0;
    for (int i = 0; i < kPrograms; ++i) {
      char c = 0;
      if (read(results[0], &c, 1) == 1 && c == '1') ++owners;
    }
    EXPECT_EQ(owners, 1) << "round " << round;
    EXPECT_EQ(RegisteredWheels(), 1) << "round " << round;
    close(release[1]);
    close(results[0]);
    for (pid_t pid : programs) {
      int status = 0;
      EXPECT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ASSERT_TRUE(WaitFor([] { return RegisteredWheels() == 0; })) << "round " << round;
  }
}

TEST_F(UinputWheel, ConcurrentUpdatesLoseNoReportAndMixNoFrames) {
  // Every update carries a unique steering value x, with pedals 32768 - x
  // and buttons x mod 256, so each one yields exactly one frame whose
  // parts must belong together.
  constexpr int kThreads = 4;
  constexpr int kPerThread = 150;
  constexpr int32_t kStride = 8192;
  // Writers stay at most a few frames ahead of the reader so that the
  // event node's buffer never overflows.
  std::counting_semaphore<> room(4);
  std::atomic<bool> stop{false};
  std::atomic<int> failedUpdates{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kPerThread && !stop; ++i) {
        if (!room.try_acquire_for(kDeadline)) return;
        const int32_t x = t * kStride + i + 1;
        if (!d.Update(x, 32768 - x, static_cast<uint32_t>(x) & 0xFF)) ++failedUpdates;
      }
    });
  }

  // Checks one frame; returns what is wrong with it, or nothing.
  uint8_t keys = 0;
  int32_t last[kThreads] = {};
  auto check = [&](const Frame& frame) -> std::string {
    std::optional<int32_t> x, y;
    for (const WheelEvent& e : frame) {
      if (e.type == EV_ABS && e.code == ABS_X && !x) {
        x = e.value;
      } else if (e.type == EV_ABS && e.code == ABS_Y && !y) {
        y = e.value;
      } else if (e.type == EV_KEY && e.code >= BTN_TRIGGER && e.code <= BTN_BASE2) {
        const auto bit = static_cast<uint8_t>(1u << (e.code - BTN_TRIGGER));
        if (((keys & bit) != 0) == (e.value != 0)) return "a key event that changes nothing";
        keys ^= bit;
      } else if (!(e.type == EV_SYN && e.code == SYN_REPORT)) {
        return "unexpected event " + std::to_string(e.type) + "," + std::to_string(e.code);
      }
    }
    if (!x || !y) return "a frame without both axes";
    if (*y != 32768 - *x)
      return "pedals of another report: x " + std::to_string(*x) + " y " + std::to_string(*y);
    if (keys != static_cast<uint8_t>(*x)) return "buttons of another report: x " + std::to_string(*x);
    const int t = (*x - 1) / kStride;
    if (t < 0 || t >= kThreads) return "steering value never sent: " + std::to_string(*x);
    if (*x <= last[t]) return "one thread's reports out of order at " + std::to_string(*x);
    last[t] = *x;
    return {};
  };

  int frames = 0;
  while (frames < kThreads * kPerThread) {
    const std::optional<Frame> frame = node.NextFrame();
    if (!frame) {
      ADD_FAILURE() << "no frame after " << frames;
      break;
    }
    room.release();
    ++frames;
    if (const std::string wrong = check(*frame); !wrong.empty()) {
      ADD_FAILURE() << "frame " << frames << ": " << wrong;
      break;
    }
  }
  stop = true;
  room.release(kThreads);
  for (auto& w : writers) w.join();
  EXPECT_EQ(failedUpdates.load(), 0);
  EXPECT_EQ(frames, kThreads * kPerThread);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(last[t], t * kStride + kPerThread) << "thread " << t;
}

TEST_F(UinputWheel, UpdatesSurviveRelinquishAndAcquireOnAnotherThread) {
  std::atomic<bool> done{false};
  std::atomic<int> accepted{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < 2; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; !done; ++i) {
        if (d.Update((i * 97 + t) % 32769, i % 32769, static_cast<uint32_t>(i))) ++accepted;
      }
    });
  }
  bool updatesKeptUp = true;
  for (int round = 0; round < 20 && updatesKeptUp; ++round) {
    d.relinquish(1);
    if (!VJoyTrue(d.acquire(1))) break;
    const int before = accepted;
    updatesKeptUp = WaitFor([&] { return accepted > before; });
  }
  done = true;
  for (auto& w : writers) w.join();
  EXPECT_TRUE(updatesKeptUp) << "no update got through to a newly acquired device";
  EXPECT_EQ(d.status(1), VJD_STAT_OWN);

  node.Close();
  ASSERT_TRUE(node.Open()) << "the wheel is gone";
  ASSERT_TRUE(d.Update(11, 22, 0));
  ASSERT_TRUE(d.Update(33, 22, 0));
  EXPECT_TRUE(WaitFor([&] {
    const std::optional<Frame> frame = node.NextFrame(100ms);
    return frame && *frame == Frame{AbsX(33), Syn};
  }));
}

}  // namespace
}  // namespace wendrix::vjoy
