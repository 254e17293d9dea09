#include <gtest/gtest.h>

#include <cstring>

#include "FakeDriver.h"
#include "joystick/ControlState.h"

namespace wendrix {
namespace {

TEST(ControlState, ModuleInitialisationLeavesTheStartValues) {
  test::ResetProcessState();
  EXPECT_EQ(gState.feedbackForce.load(), -10000);
  EXPECT_FALSE(gState.wifiActive.load());
  EXPECT_FALSE(gState.bluetoothActive.load());
  EXPECT_FALSE(gState.statusChanged.load());
  EXPECT_FALSE(gState.pageChanged.load());
  EXPECT_FALSE(gState.sequenceCheck.load());
  EXPECT_FALSE(gState.connected.load());
  EXPECT_FALSE(gState.driverFailed.load());
  EXPECT_FALSE(gState.wifiDataSeen.load());
  EXPECT_FALSE(gState.bluetoothDataSeen.load());
  EXPECT_EQ(gState.lastSequence.load(), 0);
  EXPECT_EQ(gState.displayButtons.load(), 0);
  EXPECT_EQ(gState.tcpServer.load(), nullptr);
  EXPECT_EQ(gState.udpServer.load(), nullptr);
  EXPECT_EQ(gState.udpClient.load(), nullptr);
  const JoystickReport zero{};
  EXPECT_EQ(std::memcmp(&gState.report, &zero, sizeof zero), 0);
}

TEST(ControlState, SnapshotPutsTheThreeFieldsAtTheirLittleEndianOffsets) {
  test::ResetProcessState();
  ReportStore(gState.report.axisX, 0x01020304);
  ReportStore(gState.report.axisY, -2);
  ReportStore(gState.report.buttons, 0xA5u);
  JoystickReport copy = SnapshotReport();
  uint8_t bytes[96];
  std::memcpy(bytes, &copy, sizeof bytes);
  for (size_t i = 0; i < sizeof bytes; ++i) {
    SCOPED_TRACE(i);
    uint8_t expected = 0;
    if (i == 16) expected = 0x04;
    if (i == 17) expected = 0x03;
    if (i == 18) expected = 0x02;
    if (i == 19) expected = 0x01;
    if (i >= 20 && i < 24) expected = 0xFF;
    if (i == 20) expected = 0xFE;
    if (i == 76) expected = 0xA5;
    EXPECT_EQ(bytes[i], expected);
  }
}

}  // namespace
}  // namespace wendrix
