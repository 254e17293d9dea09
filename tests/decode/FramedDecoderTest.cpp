#include <climits>
#include <vector>

#include "DecoderFixture.h"

namespace wendrix::test {
namespace {

using FramedDecoding = DecoderTest;

std::vector<uint8_t> Message(size_t length, FramedControl c = {}) { return BuildFramedMessage(c, length); }

TEST_F(FramedDecoding, LengthDecidesWhatIsTaken) {
  struct Case {
    size_t length;
    bool moves;
    bool buttons;
  };
  for (Case c : {Case{0, false, false}, Case{21, false, false}, Case{22, true, false}, Case{23, true, false},
                 Case{24, true, false}, Case{31, true, false}, Case{32, true, true}, Case{40, true, true}}) {
    SCOPED_TRACE(c.length);
    SetUp();
    ReportStore(gState.report.buttons, 9u);
    gState.displayButtons = 9;
    auto message = Message(c.length, {100, 200, 1, 1, 1});
    for (size_t i = 26; i < message.size(); ++i) message[i] = 0xEE;  // uninterpreted
    Framed(message);
    EXPECT_EQ(AxisX(), c.moves ? 16484 : 0);
    EXPECT_EQ(AxisY(), c.moves ? 16584 : 0);
    EXPECT_EQ(Buttons(), c.buttons ? 3u : 9u);
    EXPECT_EQ(Display(), c.buttons ? 1 : 9);
    EXPECT_EQ(Pushes(), c.moves ? 1u : 0u);
    EXPECT_EQ(gRepaints, c.moves ? 1 : 0);
    EXPECT_EQ(gState.feedbackForce.load(), -10000);
  }
  DecodeFramedMessage(nullptr, -1);
  EXPECT_EQ(Pushes(), 1u);
}

TEST_F(FramedDecoding, ForeignIdentifierIsDropped) {
  for (size_t i : {0u, 11u}) {
    auto message = Message(32, {100, 100});
    message[i] ^= 0x20;
    Framed(message);
  }
  EXPECT_EQ(AxisX(), 0);
  EXPECT_EQ(Pushes(), 0u);
}

TEST_F(FramedDecoding, ButtonMaskIsTheWeightedSum) {
  struct Case {
    uint8_t b24, b25;
    uint32_t mask;
  };
  for (Case c : {Case{1, 1, 3}, Case{0, 1, 2}, Case{2, 0, 2}, Case{255, 255, 765}}) {
    Framed(Message(32, {0, 0, 0, c.b24, c.b25}));
    EXPECT_EQ(Buttons(), c.mask);
    EXPECT_EQ(Display(), c.b24);
  }
}

TEST_F(FramedDecoding, AxesAreOffsetByTheCentreWithoutClamping) {
  struct Case {
    int32_t wire, axis;
  };
  for (Case c : {Case{-16384, 0}, Case{0, 16384}, Case{16384, 32768}, Case{20000, 36384}, Case{-20000, -3616},
                 Case{INT32_MAX, INT32_MIN + 16383}}) {
    SCOPED_TRACE(c.wire);
    Framed(Message(22, {c.wire, c.wire}));
    EXPECT_EQ(AxisX(), c.axis);
    EXPECT_EQ(AxisY(), c.axis);
  }
  const uint8_t steering[] = {0xFF, 0xFF, 0xC0, 0x00};
  auto message = Message(22);
  std::copy(std::begin(steering), std::end(steering), message.begin() + kFramedSteeringOffset);
  Framed(message);
  EXPECT_EQ(AxisX(), 0);
}

TEST_F(FramedDecoding, SequenceFilterWhileTheCheckIsOn) {
  gState.sequenceCheck = true;
  gState.lastSequence = 100;
  struct Case {
    uint16_t sequence;
    bool taken;
    int16_t last;
  };
  int32_t axis = 0;
  for (Case c : {Case{101, true, 101}, Case{101, false, 101}, Case{99, false, 101}, Case{0x8065, false, 101},
                 Case{102, true, 102}}) {
    SCOPED_TRACE(c.sequence);
    const size_t before = Pushes();
    Framed(Message(32, {c.sequence, 0, c.sequence, 1, 0}));
    if (c.taken) axis = c.sequence + 16384;
    EXPECT_EQ(Pushes(), before + (c.taken ? 1 : 0));
    EXPECT_EQ(AxisX(), axis);
    EXPECT_EQ(gState.lastSequence.load(), c.last);
  }
  // Short messages carry no number: taken, filter untouched.
  Framed(Message(23, {5}));
  EXPECT_EQ(AxisX(), 16389);
  EXPECT_EQ(gState.lastSequence.load(), 102);

  gState.lastSequence = -1;  // 65535
  Framed(Message(24, {0, 0, 0}));
  Framed(Message(24, {1, 0, 1}));
  EXPECT_EQ(gState.lastSequence.load(), 1);
  EXPECT_EQ(Pushes(), 5u);
}

TEST_F(FramedDecoding, NoFilterWhileTheCheckIsOff) {
  gState.lastSequence = 50;
  for (uint16_t s : {7, 7, 3, 60000}) Framed(Message(24, {s, 0, s}));
  EXPECT_EQ(Pushes(), 4u);
  EXPECT_EQ(gState.lastSequence.load(), 50);
}

TEST_F(FramedDecoding, RepaintIsRequestedBeforeThePush) {
  int repaintsAtPush = -1;
  FakeDriver::Get().SetUpdateHook([](const void*, void* c) { *static_cast<int*>(c) = gRepaints; },
                                  &repaintsAtPush);
  Framed(Message(32, {1, 2, 3, 1, 0}));
  EXPECT_EQ(repaintsAtPush, 1);
  EXPECT_EQ(gRepaints, 1);
  EXPECT_EQ(gClockReads, 0);
}

}  // namespace
}  // namespace wendrix::test
