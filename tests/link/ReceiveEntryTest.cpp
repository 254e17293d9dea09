// Sessions and framed readers receive only through the socket entry table,
// and serve a stream correctly however short each receive is.
#include <sys/socket.h>

#include <algorithm>
#include <atomic>

#include "LinkFixture.h"
#include "link/winsock2.h"

namespace wendrix::test {
namespace {

std::atomic<int> gReceives{0};

// The receive entry as a slow network would make it: one byte per call.
ssize_t ReceiveOneByte(SocketHandle s, void* buffer, size_t length, int flags) {
  gReceives.fetch_add(1);
  return ::recv(s, buffer, std::min<size_t>(length, 1), flags);
}

TEST_F(LinkTest, StreamsAreReadThroughTheReceiveEntryEvenOneByteAtATime) {
  // Swapped before any session thread exists, and never put back: the
  // entries are written only while no reader runs.
  Winsock2Entries.recv = &ReceiveOneByte;
  gReceives = 0;
  int legacy = Open();
  const std::vector<LegacyRecord> records = {{1, 100, 200, 0}, {2, 300, 400, 0}, {3, 500, 600, 0}};
  ASSERT_TRUE(SendAll(legacy, Concat(BuildLegacyOpening(), BuildLegacyRecords(records))));
  ASSERT_TRUE(UpdateWithX(500));
  int framed = Open(LinkKind::Bluetooth);
  ASSERT_TRUE(SendAll(framed, Concat(BuildFrame(BuildFramedMessage({7, 0, 1, 0, 0})),
                                     BuildFrame(BuildFramedMessage({8, 0, 2, 0, 0})))));
  ASSERT_TRUE(UpdateWithX(16384 + 8));

  auto u = Updates();
  ASSERT_EQ(u.size(), 5u);
  EXPECT_EQ(u[1].axisX, 300);
  EXPECT_EQ(u[1].axisY, 400);
  EXPECT_EQ(u[3].axisX, 16384 + 7);
  // Each byte after the greeting took a call of its own.
  EXPECT_GE(gReceives.load(), static_cast<int>(kLegacyOpeningSize + 3 * kLegacyRecordSize + 2 * 36));
  shutdown(legacy, SHUT_WR);
  shutdown(framed, SHUT_WR);
  EXPECT_TRUE(PeerClosed(legacy));
  EXPECT_TRUE(PeerClosed(framed));
}

}  // namespace
}  // namespace wendrix::test
