// The program's core, started as the program starts it (modules, the
// driver library from the program's own folder, the driver check, the
// service start), only without its window; and the wheel it drives, read
// back from its event node. These tests need a kernel with uinput; the VM
// stage (tests/vm/run-vm-tests) runs them in a guest.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "WheelEventNode.h"
#include "WifiListening.h"

namespace wendrix::test {

// Every test of the running receiver; skips where it could not start.
class ReceiverTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // What the wheel shows before a test sends anything.
  vjoy::WheelState Shown();
  // The next frame on the wheel must take it from `before` to `after`,
  // with exactly the events that change.
  void ExpectWheelMoves(const vjoy::WheelState& before, const vjoy::WheelState& after);

  static vjoy::EventNode& Wheel();
};

// Legacy sequence numbers that are newer than every one sent before, so
// that no test depends on what an earlier test sent.
uint16_t NextSequence();

}  // namespace wendrix::test
