// The control display: on every paint of the main window the shared
// steering, pedal and button values are copied into the bars and boxes.
#pragma once

#include <cstdint>

namespace wendrix {

// Bar positions before they are shown; they leave 0 to 100 when an axis
// leaves 0 to 32768. Halves round to the even neighbour.
int64_t SteeringPosition(int32_t axisX);               // axisX * 100 / 32768
int64_t PedalsPosition(int32_t axisY);                 // (32768 - axisY) * 100 / 32768
int64_t FeedbackForcePosition(int32_t feedbackForce);  // (f + 10000) / 20000 * 100
// A position as a 0 to 100 bar shows it: out-of-range ones at the nearer end.
int ShownOnBar(int64_t position);

// The controls a paint writes.
class ControlDisplayView {
 public:
  virtual ~ControlDisplayView() = default;
  virtual void SetSteeringBar(int position) = 0;                  // ProgressBar1
  virtual void SetPedalsBar(int position) = 0;                    // ProgressBar2
  virtual void SetFeedbackForceBar(int position) = 0;             // ProgressBarFeedbackForce
  virtual void SetButtonBoxChecked(int index, bool checked) = 0;  // chk(index + 1)
};

// Window thread, from the paint handler.
void RefreshControls(ControlDisplayView& view);

}  // namespace wendrix
