#include <thread>
#include <vector>

#include "DecoderFixture.h"

namespace wendrix::test {
namespace {

// Every message carries equal steering and pedals. A push whose report has
// two different axes would have mixed two decoder calls.
TEST_F(DecoderTest, LegacyAndFramedCallersNeverInterleave) {
  struct Tally {
    std::atomic<int> pushes{0};
    std::atomic<int> mixed{0};
  } tally;
  FakeDriver::Get().SetRecording(false);
  FakeDriver::Get().SetUpdateHook(
      [](const void* report, void* c) {
        auto& t = *static_cast<Tally*>(c);
        JoystickReport r;
        std::memcpy(&r, report, sizeof r);
        t.pushes.fetch_add(1);
        if (r.axisX != r.axisY) t.mixed.fetch_add(1);
      },
      &tally);
  gState.sequenceCheck = true;

  constexpr int kCalls = 2000;
  std::vector<std::thread> threads;
  for (int link = 0; link < 2; ++link) {
    threads.emplace_back([link] {  // a legacy stream, chunks of three records
      for (int i = 0; i < kCalls; ++i) {
        const auto v = static_cast<uint16_t>(i * 7 + link);
        const LegacyRecord run[] = {{0, v, v, 1}, {0, v, v, 0}, {0, v, v, uint8_t(i)}};
        DecoderTest::Legacy(BuildLegacyRecords(run));
        gNow.fetch_add(1);
      }
    });
    threads.emplace_back([link] {  // a framed stream
      for (int i = 0; i < kCalls; ++i) {
        const auto s = static_cast<uint16_t>(i);
        DecoderTest::Framed(BuildFramedMessage({i * 3 + link, i * 3 + link, s, 1, 1}, 24 + 8 * link));
      }
    });
  }
  threads.emplace_back([] {  // UDP datagrams and session resets
    for (int i = 0; i < kCalls; ++i) {
      const auto v = static_cast<uint16_t>(i);
      DecoderTest::Legacy(BuildLegacyRecord({v, v, v, 0xFF}), false);
      if (i % 100 == 0) {
        gLegacy.lastLegacySequence.store(0);
        gState.lastSequence.store(0);
      }
    }
  });
  for (auto& t : threads) t.join();

  EXPECT_EQ(tally.mixed, 0);
  EXPECT_GT(tally.pushes, 3 * kCalls);  // every legacy call pushes; framed ones may be filtered
  EXPECT_LE(tally.pushes, 7 * kCalls);
  FakeDriver::Get().SetRecording(true);
}

}  // namespace
}  // namespace wendrix::test
