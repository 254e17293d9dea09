#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "FakeDriver.h"
#include "app/Modules.h"
#include "decode/LegacyDecoder.h"
#include "joystick/ControlState.h"

namespace wendrix {
namespace {

// Distinct values that none of the start values equals, in every field.
void FillWithGarbage() {
  gState.wifiActive.store(true);
  std::memset(&gState.report, 0xA5, sizeof gState.report);
  gState.wifiDataSeen.store(true);
  gState.bluetoothDataSeen.store(true);
  gState.displayButtons.store(0x5A);
  gState.feedbackForce.store(4321);
  gState.tcpServer.store(reinterpret_cast<TTcpServer*>(0x1010));
  gState.udpServer.store(reinterpret_cast<TUdpServer*>(0x2020));
  gState.udpClient.store(reinterpret_cast<TUdpClient*>(0x3030));
  gState.driverFailed.store(true);
  gState.statusChanged.store(true);
  gState.pageChanged.store(true);
  gState.connected.store(true);
  gState.bluetoothActive.store(true);
  gState.sequenceCheck.store(true);
  gState.lastSequence.store(-777);
  gLegacy.lastLegacySequence.store(999);
  gLegacy.legacySteering = 1111;
  gLegacy.legacyPedals = 2222;
  gLegacy.currentButtons = 0x11;
  gLegacy.previousButtons = 0x22;
  gLegacy.pulsedButtons = 0x33;
  for (unsigned i = 0; i < kButtonCount; ++i) {
    gLegacy.pulseCount[i] = static_cast<uint8_t>(i + 1);
    gLegacy.pulseLevel[i] = 1;
    gLegacy.pulseDeadline[i] = 5000 + i;
  }
}

TEST(ControlState, ModuleInitialisationGivesItsStartValues) {
  FillWithGarbage();
  InitializeModules();

  EXPECT_EQ(gState.feedbackForce.load(), -10000);
  EXPECT_FALSE(gState.statusChanged.load());
  EXPECT_FALSE(gState.wifiActive.load());
  EXPECT_FALSE(gState.bluetoothActive.load());
  EXPECT_FALSE(gState.sequenceCheck.load());
  EXPECT_EQ(gState.lastSequence.load(), 0);
  // The legacy decoder's state starts over as a whole.
  EXPECT_EQ(gLegacy.lastLegacySequence.load(), 0);
  EXPECT_EQ(gLegacy.legacySteering, 0);
  EXPECT_EQ(gLegacy.legacyPedals, 0);
  EXPECT_EQ(gLegacy.currentButtons, 0);
  EXPECT_EQ(gLegacy.previousButtons, 0);
  EXPECT_EQ(gLegacy.pulsedButtons, 0);
  for (unsigned i = 0; i < kButtonCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(gLegacy.pulseCount[i], 0);
    EXPECT_EQ(gLegacy.pulseLevel[i], 0);
    EXPECT_EQ(gLegacy.pulseDeadline[i], 0u);
  }
  test::ResetProcessState();
}

// The rest starts from the zero the process starts with, which the state's
// own initialisers give as well.
TEST(ControlState, ProcessStartValuesAreAllZero) {
  alignas(ControlState) unsigned char memory[sizeof(ControlState)];
  std::memset(memory, 0xA5, sizeof memory);
  auto* fresh = new (memory) ControlState;
  EXPECT_FALSE(fresh->wifiActive.load());
  const JoystickReport zero{};
  EXPECT_EQ(std::memcmp(&fresh->report, &zero, sizeof zero), 0);
  EXPECT_FALSE(fresh->wifiDataSeen.load());
  EXPECT_FALSE(fresh->bluetoothDataSeen.load());
  EXPECT_EQ(fresh->displayButtons.load(), 0);
  EXPECT_EQ(fresh->feedbackForce.load(), 0);
  EXPECT_EQ(fresh->tcpServer.load(), nullptr);
  EXPECT_EQ(fresh->udpServer.load(), nullptr);
  EXPECT_EQ(fresh->udpClient.load(), nullptr);
  EXPECT_FALSE(fresh->driverFailed.load());
  EXPECT_FALSE(fresh->statusChanged.load());
  EXPECT_FALSE(fresh->pageChanged.load());
  EXPECT_FALSE(fresh->connected.load());
  EXPECT_FALSE(fresh->bluetoothActive.load());
  EXPECT_FALSE(fresh->sequenceCheck.load());
  EXPECT_EQ(fresh->lastSequence.load(), 0);
  fresh->~ControlState();
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
