// Turning a 96-byte report into the input events that changed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <linux/input-event-codes.h>

namespace wendrix::vjoy {

// Identity and ranges of the virtual wheel.
inline constexpr const char* kWheelName = "Wendrix Virtual Wheel";
inline constexpr uint16_t kWheelVendor = 0x1209;
inline constexpr uint16_t kWheelProduct = 0x5752;
inline constexpr uint16_t kWheelVersion = 0x0001;
inline constexpr int32_t kAxisMin = 0;
inline constexpr int32_t kAxisMax = 32768;
inline constexpr int32_t kSteeringCentre = 16384;
inline constexpr int32_t kPedalsReleased = 32768;
inline constexpr int kButtonCount = 8;  // BTN_TRIGGER .. BTN_BASE2
static_assert(BTN_BASE2 - BTN_TRIGGER + 1 == kButtonCount);

// What the device currently shows.
struct WheelState {
  int32_t x = kSteeringCentre;
  int32_t y = kPedalsReleased;
  uint8_t buttons = 0;  // bit 0 is button 1

  bool operator==(const WheelState&) const = default;
};

struct WheelEvent {
  uint16_t type;
  uint16_t code;
  int32_t value;

  bool operator==(const WheelEvent&) const = default;
};

// At most two axes, eight buttons and the closing SYN_REPORT.
inline constexpr size_t kMostWheelEvents = 2 + kButtonCount + 1;

struct WheelEvents {
  std::array<WheelEvent, kMostWheelEvents> events{};
  size_t count = 0;

  const WheelEvent* begin() const { return events.data(); }
  const WheelEvent* end() const { return events.data() + count; }
  bool empty() const { return count == 0; }
};

// Reads axisX, axisY and the low eight button bits from a report laid out
// as JoystickReport (little-endian). Axes are clamped to the wheel's range.
WheelState ReadReport(const void* report);

// The events that take the device from `shown` to `wanted`: changed axes,
// then changed buttons in button order, then one SYN_REPORT. Nothing at
// all when nothing changed.
WheelEvents TranslateReport(const WheelState& shown, const WheelState& wanted);

}  // namespace wendrix::vjoy
