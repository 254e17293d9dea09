// The 96-byte position record handed by address to UpdateVJD.
// Little-endian; only axisX, axisY and buttons are ever written.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wendrix {

struct JoystickReport {
  uint8_t device;  // 0: the device is named by UpdateVJD's first argument
  uint8_t alignment[3];
  int32_t reserved1[3];
  int32_t axisX;  // steering; 16384 is the centre
  int32_t axisY;  // pedals; 32768 is released
  int32_t reserved2[13];
  uint32_t buttons;  // bit 0 is button 1
  int32_t reserved3[4];
};

static_assert(sizeof(JoystickReport) == 96);
static_assert(offsetof(JoystickReport, device) == 0);
static_assert(offsetof(JoystickReport, axisX) == 16);
static_assert(offsetof(JoystickReport, axisY) == 20);
static_assert(offsetof(JoystickReport, buttons) == 76);

constexpr size_t kReportSize = sizeof(JoystickReport);
constexpr size_t kAxisXOffset = offsetof(JoystickReport, axisX);
constexpr size_t kAxisYOffset = offsetof(JoystickReport, axisY);
constexpr size_t kButtonsOffset = offsetof(JoystickReport, buttons);

}  // namespace wendrix
