// Readable wheel events in test failures.
#pragma once

#include <ostream>

#include "ReportTranslation.h"

namespace wendrix::vjoy {

inline void PrintTo(const WheelEvent& e, std::ostream* os) {
  switch (e.type) {
    case EV_SYN:
      *os << (e.code == SYN_REPORT ? "SYN_REPORT" : "EV_SYN ");
      break;
    case EV_ABS:
      *os << (e.code == ABS_X ? "ABS_X " : e.code == ABS_Y ? "ABS_Y " : "EV_ABS ");
      break;
    case EV_KEY:
      *os << "BTN_" << (e.code - BTN_TRIGGER + 1) << ' ';
      break;
    default:
      *os << "type " << e.type << ' ';
  }
  if (e.type != EV_SYN || e.code != SYN_REPORT || e.value != 0) *os << e.value;
}

}  // namespace wendrix::vjoy
