#include "ReportTranslation.h"

#include <algorithm>
#include <cstring>

#include "joystick/JoystickReport.h"

namespace wendrix::vjoy {

namespace {

uint32_t LoadLittleEndian(const void* report, size_t offset) {
  uint8_t b[4];
  std::memcpy(b, static_cast<const uint8_t*>(report) + offset, sizeof b);
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

int32_t LoadAxis(const void* report, size_t offset) {
  return std::clamp(static_cast<int32_t>(LoadLittleEndian(report, offset)), kAxisMin, kAxisMax);
}

}  // namespace

WheelState ReadReport(const void* report) {
  WheelState state;
  state.x = LoadAxis(report, kAxisXOffset);
  state.y = LoadAxis(report, kAxisYOffset);
  state.buttons = static_cast<uint8_t>(LoadLittleEndian(report, kButtonsOffset) & 0xFFu);
  return state;
}

WheelEvents TranslateReport(const WheelState& shown, const WheelState& wanted) {
  WheelEvents out;
  auto add = [&out](uint16_t type, uint16_t code, int32_t value) {
    out.events[out.count++] = WheelEvent{type, code, value};
  };
  if (wanted.x != shown.x) add(EV_ABS, ABS_X, wanted.x);
  if (wanted.y != shown.y) add(EV_ABS, ABS_Y, wanted.y);
  const unsigned changed = static_cast<unsigned>(shown.buttons ^ wanted.buttons);
  for (int i = 0; i < kButtonCount; ++i) {
    if (changed & (1u << i)) add(EV_KEY, static_cast<uint16_t>(BTN_TRIGGER + i), (wanted.buttons >> i) & 1);
  }
  if (out.count > 0) add(EV_SYN, SYN_REPORT, 0);
  return out;
}

}  // namespace wendrix::vjoy
