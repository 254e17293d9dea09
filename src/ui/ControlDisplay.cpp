#include "ui/ControlDisplay.h"

#include <algorithm>
#include <cmath>

#include "joystick/ControlState.h"

namespace wendrix {

namespace {

// num / den rounded to nearest, halves to even; den > 0.
int64_t RoundHalfEven(int64_t num, int64_t den) {
  int64_t q = num / den;
  int64_t r = num % den;
  if (r < 0) {
    q -= 1;
    r += den;
  }
  if (2 * r > den || (2 * r == den && q % 2 != 0)) ++q;
  return q;
}

// The 32-bit wrap-around of the display's integer arithmetic.
int32_t Wrap32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

}  // namespace

// x / 16384 / 2 * 100 is exact in a 64-bit significand, so integer
// arithmetic gives the same result on every platform.
int64_t SteeringPosition(int32_t axisX) { return RoundHalfEven(int64_t{axisX} * 100, 32768); }

int64_t PedalsPosition(int32_t axisY) {
  return RoundHalfEven(int64_t{Wrap32(int64_t{32768} - axisY)} * 100, 32768);
}

// The quotient is rounded before the multiplication, as in extended
// precision (long double has a 64-bit significand on x86).
int64_t FeedbackForcePosition(int32_t feedbackForce) {
  long double q = static_cast<long double>(Wrap32(int64_t{feedbackForce} + 10000)) / 20000.0L;
  return static_cast<int64_t>(std::nearbyintl(q * 100.0L));
}

int ShownOnBar(int64_t position) { return static_cast<int>(std::clamp<int64_t>(position, 0, 100)); }

void RefreshControls(ControlDisplayView& view) {
  view.SetSteeringBar(ShownOnBar(SteeringPosition(ReportLoad(gState.report.axisX))));
  view.SetPedalsBar(ShownOnBar(PedalsPosition(ReportLoad(gState.report.axisY))));
  view.SetFeedbackForceBar(ShownOnBar(FeedbackForcePosition(gState.feedbackForce.load(kRelaxed))));
  for (int k = 0; k < 8; ++k) view.SetButtonBoxChecked(k, (gState.displayButtons.load(kRelaxed) >> k) & 1);
}

}  // namespace wendrix
