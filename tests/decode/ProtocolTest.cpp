#include <gtest/gtest.h>

#include <vector>

#include "protocol/Protocol.h"

namespace wendrix {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename C>
Bytes Of(const C& c) {
  return Bytes(c.begin(), c.end());
}

Bytes Identifier() { return Bytes{'i', 'o', '.', 'k', 'a', 'v', 'r', 'e', '.', 'p', 'a', 'd'}; }

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Protocol, FixedUnitsAreByteExact) {
  EXPECT_EQ(Of(kAnnouncement), (Bytes{0x69, 0x6F, 0x2E, 0x6B, 0x61, 0x76, 0x72, 0x65, 0x2E, 0x70, 0x61, 0x64,
                                      0x01, 0x01, 0x00, 0x00, 0xA2, 0x1F, 0x02}));
  EXPECT_EQ(Of(kGreeting), (Bytes{0x00, 0x02}));
  EXPECT_EQ(Of(BuildLegacyOpening(0x1234)), Cat(Cat({0, 0, 0, 0}, Identifier()), {0x12, 0x34}));
  EXPECT_EQ(kLinkPort, 41503);
  EXPECT_EQ(kLegacyRecordsPerChunk, 142u);
  EXPECT_EQ(kMaxFrameLength, 100000u);
  EXPECT_EQ(kUdpBufferSize, 100u);
}

TEST(Protocol, NewerSequenceRule) {
  EXPECT_TRUE(IsNewerSequence(1, 0xFFFF));
  EXPECT_TRUE(IsNewerSequence(0x7FFF, 0));
  EXPECT_FALSE(IsNewerSequence(0x8000, 0));
  EXPECT_FALSE(IsNewerSequence(100, 100));
  EXPECT_FALSE(IsNewerSequence(99, 100));
  EXPECT_FALSE(IsNewerSequence(0xFFFF, 0));
  EXPECT_TRUE(IsNewerSequence(0, 0xFFFF));
}

TEST(Protocol, LegacyRecordAndDatagram) {
  EXPECT_EQ(Of(BuildLegacyRecord({5, 16384, 32768, 3})), (Bytes{0x05, 0x00, 0x40, 0x00, 0x80, 0x00, 0x03}));
  EXPECT_EQ(Of(BuildLegacyRecord({256, 1, 2, 0}))[0], 0x00);
  const auto datagram = BuildControlDatagram({1, 0x0102, 0x0304, 0x80});
  EXPECT_EQ(Of(datagram), (Bytes{0x01, 0x01, 0x00, 0x01, 0x02, 0x03, 0x04, 0x80}));
  EXPECT_TRUE(IsControlDatagram(datagram.data(), 8));
  EXPECT_FALSE(IsControlDatagram(datagram.data(), 7));
  const auto other = BuildControlDatagram({}, 0x02);
  EXPECT_FALSE(IsControlDatagram(other.data(), 8));
  const LegacyRecord two[] = {{1, 2, 3, 4}, {5, 6, 7, 8}};
  EXPECT_EQ(BuildLegacyRecords(two), Cat(Of(BuildLegacyRecord(two[0])), Of(BuildLegacyRecord(two[1]))));
}

TEST(Protocol, FramedMessageOfAnyLength) {
  const auto full = BuildFramedMessage({-16384, 0x01020304, 0xABCD, 1, 2}, 40);
  EXPECT_EQ(full,
            Cat(Cat(Identifier(), {0, 0, 0xFF, 0xFF, 0xC0, 0x00, 0x01, 0x02, 0x03, 0x04, 0xAB, 0xCD, 1, 2}),
                Bytes(14, 0)));
  for (size_t n = 0; n <= 40; ++n)
    EXPECT_EQ(BuildFramedMessage({-16384, 0x01020304, 0xABCD, 1, 2}, n),
              Bytes(full.begin(), full.begin() + n));
  EXPECT_EQ(BuildFrame(Bytes(22, 7)), Cat({0x00, 0x00, 0x00, 0x16}, Bytes(22, 7)));
  EXPECT_EQ(BuildFrameWithLength(100001, {}), (Bytes{0x00, 0x01, 0x86, 0xA1}));
}

}  // namespace
}  // namespace wendrix
