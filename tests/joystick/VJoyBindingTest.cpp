#include <gtest/gtest.h>

#include <vector>

#include "FakeDriver.h"
#include "joystick/ControlState.h"
#include "joystick/Joystick.h"
#include "joystick/VJoyInterface.h"

namespace wendrix {
namespace {

using test::FakeDriver;
using Kinds = std::vector<int32_t>;

class VJoyBinding : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetProcessState(); }
  const FakeDriver& fake = FakeDriver::Get();
};

TEST_F(VJoyBinding, BindsTheLibraryBesideTheProgramOnceOnly) {
  void* first = vJoyLibrary;
  ASSERT_NE(first, nullptr);
  ASSERT_NE(VJoyEntries.UpdateVJD, nullptr);
  EXPECT_TRUE(LoadVJoyInterface());
  EXPECT_EQ(vJoyLibrary, first);
  EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(VJoyBinding, UnloadKeepsTheEntriesAndAllowsALaterLoad) {
  auto update = VJoyEntries.UpdateVJD;
  EXPECT_TRUE(UnloadVJoyInterface());
  EXPECT_EQ(vJoyLibrary, nullptr);
  EXPECT_EQ(VJoyEntries.UpdateVJD, update);
  EXPECT_TRUE(UnloadVJoyInterface());
  EXPECT_TRUE(LoadVJoyInterface());
}

TEST_F(VJoyBinding, AcquisitionTakesDeviceOneWithoutPushing) {
  AcquireJoystick();
  EXPECT_EQ(fake.Kinds(), (Kinds{FAKE_VJOY_ENABLED, FAKE_VJOY_STATUS, FAKE_VJOY_ACQUIRE}));
  for (const auto& call : fake.Calls()) {
    if (call.kind != FAKE_VJOY_ENABLED) {
      EXPECT_EQ(call.device, 1u);
    }
  }
  EXPECT_EQ(ReportLoad(gState.report.axisX), 0);
  EXPECT_EQ(ReportLoad(gState.report.axisY), 32768);
  EXPECT_EQ(ReportLoad(gState.report.buttons), 0u);
}

TEST_F(VJoyBinding, PushHandsOverTheReportBytes) {
  AcquireJoystick();
  ReportStore(gState.report.axisX, 16384);
  ReportStore(gState.report.buttons, 3u);
  PushJoystickReport();
  auto updates = fake.Updates();
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].axisX, 16384);
  EXPECT_EQ(updates[0].axisY, 32768);
  EXPECT_EQ(updates[0].buttons, 3u);
  EXPECT_EQ(updates[0].device, 0);
  EXPECT_EQ(fake.Calls().back().device, 1u);
  EXPECT_FALSE(gState.driverFailed.load());
}

TEST_F(VJoyBinding, OnlyTheLowByteOfTheResultCounts) {
  fake.ScriptUpdates({0x100, 0x1FF});
  PushJoystickReport();
  EXPECT_TRUE(gState.driverFailed.load());
  ReacquireJoystick();
  PushJoystickReport();
  EXPECT_FALSE(gState.driverFailed.load());
}

TEST_F(VJoyBinding, FailedUpdateLatchesUntilReacquired) {
  fake.ScriptUpdates({0, 1});
  PushJoystickReport();
  ASSERT_TRUE(gState.driverFailed.load());
  fake.Reset();
  fake.ScriptUpdates({1});
  for (int i = 0; i < 5; ++i) PushJoystickReport();
  EXPECT_TRUE(fake.Calls().empty()) << "no call may reach the library while latched";

  ReacquireJoystick();
  EXPECT_EQ(fake.Kinds(),
            (Kinds{FAKE_VJOY_RELINQUISH, FAKE_VJOY_ENABLED, FAKE_VJOY_STATUS, FAKE_VJOY_ACQUIRE}));
  EXPECT_FALSE(gState.driverFailed.load());
  PushJoystickReport();
  EXPECT_EQ(fake.Updates().size(), 1u);
}

TEST_F(VJoyBinding, ReacquisitionClearsTheLatchEvenWhenAcquisitionFails) {
  fake.SetEnabled(0);
  fake.SetAcquire(0);
  fake.ScriptUpdates({0});
  PushJoystickReport();
  ASSERT_TRUE(gState.driverFailed.load());
  ReportStore(gState.report.axisX, 77);
  ReacquireJoystick();
  const auto calls = fake.Calls();
  ASSERT_EQ(calls.back().kind, FAKE_VJOY_ACQUIRE);
  ASSERT_EQ(calls.back().result, 0) << "the device was not acquired";
  EXPECT_FALSE(gState.driverFailed.load());
  EXPECT_EQ(ReportLoad(gState.report.axisX), 77) << "re-acquisition leaves the report alone";
  PushJoystickReport();
  EXPECT_EQ(fake.Updates().size(), 2u);
  EXPECT_TRUE(gState.driverFailed.load());
}

TEST_F(VJoyBinding, MissingEntryPointsFailInsteadOfCrashing) {
  VJoyEntryPoints saved = VJoyEntries;
  VJoyEntries = VJoyEntryPoints{};
  EXPECT_FALSE(DriverEnabled());
  AcquireJoystick();
  ReacquireJoystick();
  PushJoystickReport();
  EXPECT_TRUE(gState.driverFailed.load());
  VJoyEntries = saved;
}

}  // namespace
}  // namespace wendrix
