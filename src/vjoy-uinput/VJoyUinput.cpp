// The five driver calls on the kernel's uinput, through libevdev. Device 1
// is a virtual joystick "Wendrix Virtual Wheel"; every other device number
// is missing. One lock serialises all calls, so updates from several
// threads never interleave their events and never meet a device that is
// being created or destroyed.
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <mutex>

#include "ReportTranslation.h"
#include "WheelDevices.h"
#include "joystick/VJoyApi.h"

#define VJOY_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace wendrix;
using namespace wendrix::vjoy;

constexpr const char* kUinputPath = "/dev/uinput";
constexpr const char* kInputClassDir = "/sys/class/input";

struct Driver {
  std::mutex lock;
  libevdev_uinput* device = nullptr;  // set while device 1 is acquired
  WheelState shown;                   // what the device shows
};

// Never destroyed: threads may still call in while the process ends.
Driver& TheDriver() {
  static Driver* driver = new Driver;
  return *driver;
}

bool UinputWritable() {
  const int fd = open(kUinputPath, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// Programs that acquire device 1 at the same moment take turns: each
// looks for another's wheel and makes its own while it holds a lock on the
// uinput node, which every program that can make a wheel can open.
class UinputTurn {
 public:
  UinputTurn() : fd_(open(kUinputPath, O_WRONLY | O_CLOEXEC)) {
    if (fd_ < 0) return;
    int locked;
    do locked = flock(fd_, LOCK_EX);
    while (locked != 0 && errno == EINTR);
  }
  ~UinputTurn() {
    if (fd_ >= 0) close(fd_);  // and with it the lock
  }
  UinputTurn(const UinputTurn&) = delete;
  UinputTurn& operator=(const UinputTurn&) = delete;

 private:
  int fd_;
};

struct EvdevDeleter {
  void operator()(libevdev* dev) const { libevdev_free(dev); }
};

libevdev_uinput* CreateWheel() {
  std::unique_ptr<libevdev, EvdevDeleter> dev(libevdev_new());
  if (!dev) return nullptr;
  libevdev_set_name(dev.get(), kWheelName);
  libevdev_set_id_bustype(dev.get(), BUS_VIRTUAL);
  libevdev_set_id_vendor(dev.get(), kWheelVendor);
  libevdev_set_id_product(dev.get(), kWheelProduct);
  libevdev_set_id_version(dev.get(), kWheelVersion);

  const WheelState initial;
  input_absinfo axis{};
  axis.minimum = kAxisMin;
  axis.maximum = kAxisMax;
  axis.value = initial.x;
  if (libevdev_enable_event_code(dev.get(), EV_ABS, ABS_X, &axis) != 0) return nullptr;
  axis.value = initial.y;
  if (libevdev_enable_event_code(dev.get(), EV_ABS, ABS_Y, &axis) != 0) return nullptr;
  for (int i = 0; i < kButtonCount; ++i) {
    if (libevdev_enable_event_code(dev.get(), EV_KEY, static_cast<unsigned>(BTN_TRIGGER + i), nullptr) != 0)
      return nullptr;
  }

  libevdev_uinput* uidev = nullptr;
  if (libevdev_uinput_create_from_device(dev.get(), LIBEVDEV_UINPUT_OPEN_MANAGED, &uidev) != 0)
    return nullptr;
  return uidev;
}

// Hands the device all the events of one update in one write: uinput
// takes any number at once, and the kernel stamps their time.
bool WriteFrame(int fd, const WheelEvents& frame) {
  if (frame.empty()) return true;
  std::array<input_event, kMostWheelEvents> events{};
  for (size_t i = 0; i < frame.count; ++i) {
    events[i].type = frame.events[i].type;
    events[i].code = frame.events[i].code;
    events[i].value = frame.events[i].value;
  }
  const auto bytes = static_cast<ssize_t>(frame.count * sizeof(input_event));
  ssize_t written;
  do written = write(fd, events.data(), static_cast<size_t>(bytes));
  while (written < 0 && errno == EINTR);
  return written == bytes;
}

}  // namespace

VJOY_EXPORT VJoyBool vJoyEnabled(void) { return UinputWritable() ? 1 : 0; }

VJOY_EXPORT int32_t GetVJDStatus(uint32_t device) {
  if (device != kJoystickDevice) return VJD_STAT_MISS;
  Driver& d = TheDriver();
  std::lock_guard guard(d.lock);
  if (d.device) return VJD_STAT_OWN;
  if (!UinputWritable()) return VJD_STAT_MISS;
  if (WheelRegistered(kInputClassDir)) return VJD_STAT_BUSY;
  return VJD_STAT_FREE;
}

VJOY_EXPORT VJoyBool AcquireVJD(uint32_t device) {
  if (device != kJoystickDevice) return 0;
  Driver& d = TheDriver();
  std::lock_guard guard(d.lock);
  if (d.device) return 1;
  const UinputTurn turn;
  if (WheelRegistered(kInputClassDir)) return 0;  // another process holds it
  d.device = CreateWheel();
  d.shown = WheelState{};
  return d.device ? 1 : 0;
}

VJOY_EXPORT VJoyBool UpdateVJD(uint32_t device, void* report) {
  if (device != kJoystickDevice || !report) return 0;
  const WheelState wanted = ReadReport(report);
  Driver& d = TheDriver();
  std::lock_guard guard(d.lock);
  if (!d.device) return 0;
  if (!WriteFrame(libevdev_uinput_get_fd(d.device), TranslateReport(d.shown, wanted))) return 0;
  d.shown = wanted;
  return 1;
}

VJOY_EXPORT void RelinquishVJD(uint32_t device) {
  if (device != kJoystickDevice) return;
  Driver& d = TheDriver();
  std::lock_guard guard(d.lock);
  if (d.device) {
    libevdev_uinput_destroy(d.device);
    d.device = nullptr;
  }
}
