// The wheel as a game sees it: its /dev/input/eventN node, read frame by
// frame (the events up to each SYN_REPORT).
#pragma once

#include <libevdev/libevdev.h>
#include <linux/input.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ReportTranslation.h"
#include "WheelEventPrinter.h"

namespace wendrix::vjoy {

using WheelClock = std::chrono::steady_clock;
using Frame = std::vector<WheelEvent>;

// Generous: the tests also run in a guest without hardware acceleration.
constexpr auto kWheelDeadline = std::chrono::seconds(20);

// Polls `pred` every 10 ms until it holds or the deadline passes.
template <typename Pred>
bool WaitFor(Pred pred, WheelClock::duration deadline = kWheelDeadline) {
  for (const auto end = WheelClock::now() + deadline; WheelClock::now() < end;
       std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    if (pred()) return true;
  }
  return pred();
}

// Whether this process may create input devices.
bool UinputWritable();

// The eventN entry of the wheel in /sys/class/input, or empty.
std::string WheelEventNode();

class EventNode {
 public:
  EventNode() = default;
  EventNode(const EventNode&) = delete;
  EventNode& operator=(const EventNode&) = delete;
  ~EventNode() { Close(); }

  // Waits for the wheel to appear and opens its node without blocking.
  bool Open();
  void Close();

  const std::string& Entry() const { return entry_; }
  libevdev* Evdev();

  // The next events up to and including a SYN_REPORT; none on timeout.
  std::optional<Frame> NextFrame(WheelClock::duration timeout = kWheelDeadline);
  // Reads and drops whatever is queued.
  void Drain();
  // What the device shows now, asked of the kernel; none on error.
  std::optional<WheelState> Shown() const;

 private:
  std::string entry_;
  int fd_ = -1;
  libevdev* dev_ = nullptr;
};

constexpr WheelEvent Syn{EV_SYN, SYN_REPORT, 0};
inline WheelEvent AbsX(int32_t v) { return {EV_ABS, ABS_X, v}; }
inline WheelEvent AbsY(int32_t v) { return {EV_ABS, ABS_Y, v}; }
inline WheelEvent Key(int button, int32_t down) {
  return {EV_KEY, static_cast<uint16_t>(BTN_TRIGGER + button - 1), down};
}

}  // namespace wendrix::vjoy
