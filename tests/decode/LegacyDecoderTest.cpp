#include <vector>

#include "DecoderFixture.h"

namespace wendrix::test {
namespace {

using LegacyDecoding = DecoderTest;

struct Step {
  uint32_t at;
  uint8_t buttons;
  bool shown;  // button 1 as pushed after this record
};

// One stream record per step, button 1 checked in the pushed report.
void Play(const std::vector<Step>& steps, uint32_t base = 0) {
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "at " << s.at << " ms");
    DecoderTest::Stream(base + s.at, {0, 0, 0, s.buttons});
    ASSERT_EQ(FakeDriver::Get().Updates().back().buttons & 1u, s.shown ? 1u : 0u);
  }
}

TEST_F(LegacyDecoding, RecordSetsAxesButtonsAndDisplayInOnePush) {
  const uint8_t record[] = {0x05, 0x00, 0x40, 0x00, 0x80, 0x00, 0x03};
  gLegacy.lastLegacySequence = 4;
  Legacy(record);
  EXPECT_EQ(AxisX(), 16384);
  EXPECT_EQ(AxisY(), 32768);
  EXPECT_EQ(Buttons(), 3u);
  EXPECT_EQ(Display(), 3);
  EXPECT_EQ(gLegacy.pulseCount[0], 1);
  EXPECT_EQ(gLegacy.pulseCount[1], 1);
  const auto updates = FakeDriver::Get().Updates();
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].axisX, 16384);
  EXPECT_EQ(updates[0].axisY, 32768);
  EXPECT_EQ(updates[0].buttons, 3u);
}

TEST_F(LegacyDecoding, PulseTimingOfTapHoldAndDoubleTap) {
  // A tap reported in one message still shows for 50 ms.
  Play({{0, 1, true}, {20, 0, true}, {60, 0, false}, {120, 0, false}});
  EXPECT_EQ(gLegacy.pulseCount[0], 0);

  SetUp();  // a hold: the train ends at 50 ms on the button's latest state
  std::vector<Step> hold;
  for (uint32_t t = 0; t <= 100; t += 10) hold.push_back({t, 1, true});
  Play(hold);
  EXPECT_EQ(gLegacy.pulseCount[0], 0);

  SetUp();  // a double tap comes out as two presses of 50 ms each
  std::vector<Step> twice = {{0, 1, true}, {10, 0, true}, {20, 1, true}, {30, 0, true}};
  for (uint32_t t = 40; t <= 220; t += 10) twice.push_back({t, 0, t < 50 || (t >= 100 && t < 150)});
  Play(twice);
  EXPECT_EQ(gLegacy.pulseCount[0], 0);
}

TEST_F(LegacyDecoding, DeadlinesHoldAcrossTheClockWrap) {
  for (uint32_t start : {0u, 0x7FFFFFF0u, 0xFFFFFFFFu - 65u, 0xFFFFFFFFu - 20u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(start);
    SetUp();
    Play({{0, 1, true}, {10, 0, true}, {49, 0, true}, {50, 0, false}}, start);
  }
  // A deadline at 2^32 - 16 is reached once the clock has wrapped to 0.
  SetUp();
  Stream(0xFFFFFFFFu - 65u, {0, 0, 0, 1});
  EXPECT_EQ(gLegacy.pulseDeadline[0], 0xFFFFFFF0u);
  Stream(0xFFFFFFEFu, {0, 0, 0, 0});
  EXPECT_EQ(Buttons(), 1u);
  Stream(0, {0, 0, 0, 0});
  EXPECT_EQ(Buttons(), 0u);
}

TEST_F(LegacyDecoding, OneStepPerButtonPerCallAndChangesStartTrainsAtOnce) {
  Stream(0, {0, 0, 0, 1});
  Stream(10, {0, 0, 0, 0});
  Stream(20, {0, 0, 0, 1});  // three steps queued
  // A full chunk long past the deadline still takes only one step.
  std::vector<LegacyRecord> chunk(kLegacyRecordsPerChunk, LegacyRecord{0, 0, 0, 1});
  gNow = 500;
  Legacy(BuildLegacyRecords(chunk));
  EXPECT_EQ(Buttons(), 0u);
  EXPECT_EQ(gLegacy.pulseCount[0], 2);
  // Button 2 changing in a later call starts its own train independently.
  Stream(510, {0, 0, 0, 3});
  EXPECT_EQ(Buttons(), 2u);
  EXPECT_EQ(gLegacy.pulseCount[1], 1);
}

TEST_F(LegacyDecoding, QueuedStepsWrappingTheCountSettleOnTheLatestState) {
  Stream(0, {0, 0, 0, 1});
  // 255 further changes before the deadline wrap the count to 0; the last
  // one reports the button released.
  std::vector<LegacyRecord> flips;
  for (int i = 0; i < 255; ++i) flips.push_back({0, 0, 0, static_cast<uint8_t>(i % 2 ? 1 : 0)});
  gNow = 10;
  Legacy(BuildLegacyRecords(flips));
  EXPECT_EQ(gLegacy.pulseCount[0], 0);
  EXPECT_EQ(Buttons(), 0u);
  Stream(20, {0, 0, 0, 1});  // the next change starts a fresh train
  EXPECT_EQ(Buttons(), 1u);
  EXPECT_EQ(gLegacy.pulseCount[0], 1);
}

TEST_F(LegacyDecoding, SequenceNumbers) {
  Stream(0, {10, 100, 200, 0});
  Stream(0, {11, 110, 210, 0});
  Stream(0, {5, 999, 999, 1});  // stale: axes stay, its button still counts
  EXPECT_EQ(AxisX(), 110);
  EXPECT_EQ(Buttons(), 1u);
  Stream(0, {0, 120, 220, 1});  // 0 is always taken, the last number stays 11
  EXPECT_EQ(AxisX(), 120);
  EXPECT_EQ(gLegacy.lastLegacySequence.load(), 11);
  Stream(0, {6, 999, 999, 1});
  EXPECT_EQ(AxisY(), 220);

  // Little-endian on the wire: 0x00 0x01 is 256.
  const uint8_t seq256[] = {0x00, 0x01, 0x00, 0x07, 0x00, 0x08, 0x00};
  Legacy(seq256);
  EXPECT_EQ(gLegacy.lastLegacySequence.load(), 256);
  EXPECT_EQ(AxisX(), 7);

  gLegacy.lastLegacySequence = 65535;
  Stream(0, {1, 1, 1, 1});  // wrapped: newer
  EXPECT_EQ(AxisX(), 1);
  gLegacy.lastLegacySequence = 0;
  Stream(0, {65535, 2, 2, 1});  // half the circle behind: stale
  EXPECT_EQ(AxisX(), 1);
}

TEST_F(LegacyDecoding, EmptyRunPushesTheStoredStateWithoutSteps) {
  Stream(0, {1, 300, 400, 1});
  Stream(10, {2, 300, 400, 0});
  ReportStore(gState.report.axisX, 77);  // another writer in between
  gNow = 1000;
  const uint8_t partial[6] = {};
  Legacy(std::span(partial, 0));
  Legacy(partial);  // less than one record: empty too
  EXPECT_EQ(gLegacy.pulseCount[0], 2);
  EXPECT_EQ(Buttons(), 1u);
  EXPECT_EQ(AxisX(), 300);
  EXPECT_EQ(Pushes(), 4u);
  EXPECT_EQ(gRepaints, 4);
}

TEST_F(LegacyDecoding, UdpRecordsMoveAxesAndAdvanceTrainsOnly) {
  Udp(0, {1, 500, 600, 0xFF});
  EXPECT_EQ(AxisX(), 500);
  EXPECT_EQ(Buttons(), 0u);
  EXPECT_EQ(gLegacy.pulseCount[0], 0);

  Stream(100, {2, 500, 600, 1});
  Stream(110, {3, 500, 600, 0});  // queued: count 2
  Udp(149, {4, 510, 600, 1});
  EXPECT_EQ(Buttons(), 1u);
  Udp(150, {5, 520, 600, 1});  // the step, without touching the button byte
  EXPECT_EQ(Buttons(), 0u);
  Udp(200, {6, 530, 600, 1});  // the final step settles on the stream's 0
  EXPECT_EQ(Buttons(), 0u);
  EXPECT_EQ(gLegacy.pulseCount[0], 0);
  EXPECT_EQ(gLegacy.currentButtons, 0);
  EXPECT_EQ(AxisX(), 530);
}

TEST_F(LegacyDecoding, OneClockReadPushAndRepaintPerCallAfterThePush) {
  struct Seen {
    int repaintsAtPush = -1;
  } seen;
  FakeDriver::Get().SetUpdateHook(
      [](const void*, void* c) { static_cast<Seen*>(c)->repaintsAtPush = gRepaints; }, &seen);
  std::vector<LegacyRecord> chunk;
  for (uint16_t i = 1; i <= kLegacyRecordsPerChunk; ++i) chunk.push_back({i, i, i, uint8_t(i)});
  Legacy(BuildLegacyRecords(chunk));
  EXPECT_EQ(gClockReads, 1);
  EXPECT_EQ(Pushes(), 1u);
  EXPECT_EQ(gRepaints, 1);
  EXPECT_EQ(seen.repaintsAtPush, 0);
  EXPECT_EQ(AxisX(), 142);
}

}  // namespace
}  // namespace wendrix::test
