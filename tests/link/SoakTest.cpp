// Many connections of every kind, opened and ended: the process's open
// descriptors, threads and heap return to where they started.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "FakeDriver.h"
#include "LinkTestSupport.h"
#include "link/MessageThread.h"
#include "link/TcpServer.h"
#include "protocol/Protocol.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define WENDRIX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define WENDRIX_SANITIZED 1
#endif
#endif

namespace wendrix::test {
namespace {

#ifdef WENDRIX_SANITIZED
constexpr bool kHeapMeasurable = false;  // the sanitizers keep a heap of their own
#else
constexpr bool kHeapMeasurable = true;
#endif

size_t Connections() {
  const char* n = std::getenv("WENDRIX_SOAK_CONNECTIONS");
  return n ? std::strtoul(n, nullptr, 10) : 10000;
}

size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

enum class Kind { Legacy, Framed, BadHandshake, ResetInFrame, ResetBeforeGreeting, Count };

void OneConnection(uint16_t port, Kind kind, uint16_t n) {
  int fd = ConnectLoopback(port);
  ASSERT_GE(fd, 0);
  if (kind == Kind::ResetBeforeGreeting) return CloseWithReset(fd);
  ASSERT_EQ(ReadBytes(fd, 2).size(), 2u);
  std::vector<uint8_t> bytes;
  switch (kind) {
    case Kind::Legacy: {
      bytes = Concat(BuildLegacyOpening(), BuildLegacyRecords(std::vector<LegacyRecord>{
                                               {n, n, n, 1}, {static_cast<uint16_t>(n + 1), n, n, 0}}));
      break;
    }
    case Kind::Framed:
      bytes =
          Concat(BuildFrame(BuildFramedMessage({n, -n, n, 1, 0})), BuildFrame(BuildFramedMessage({}, 40)));
      break;
    case Kind::BadHandshake: {
      auto opening = BuildLegacyOpening();
      opening[kModeWordSize] = 'x';
      bytes.assign(opening.begin(), opening.end());
      break;
    }
    case Kind::ResetInFrame: {
      auto frame = BuildFrame(BuildFramedMessage({}, 500));
      bytes.assign(frame.begin(), frame.begin() + 100);
      break;
    }
    default:
      break;
  }
  ASSERT_TRUE(SendAll(fd, bytes));
  if (kind == Kind::ResetInFrame) return CloseWithReset(fd);
  shutdown(fd, SHUT_WR);
  EXPECT_TRUE(PeerClosed(fd));
  close(fd);
}

void RunConnections(uint16_t port, size_t count, size_t clients) {
  std::vector<std::thread> threads;
  for (size_t c = 0; c < clients; ++c)
    threads.emplace_back([=] {
      for (size_t i = c; i < count; i += clients)
        OneConnection(port, static_cast<Kind>(i % static_cast<size_t>(Kind::Count)),
                      static_cast<uint16_t>(i));
    });
  for (auto& t : threads) t.join();
}

TEST(Soak, ConnectionsOfEveryKindLeaveNoDescriptorThreadOrMemoryBehind) {
  ResetProcessState();
  FakeDriver::Get().SetRecording(false);
  // The thread sanitizer starts a helper thread with the first thread made.
  std::thread([] {}).join();
  const size_t descriptors = OpenDescriptorCount();
  const size_t threads = ThreadCount();
  size_t heap = 0;
  {
    TTcpServer server(&OnWifiClientAccepted, 0);
    server.Start();
    ASSERT_TRUE(Eventually([&] { return server.ListeningPort() != 0; }));
    // Warm up whatever the first connections allocate once.
    RunConnections(server.ListeningPort(), 50, 2);
    ASSERT_TRUE(Eventually([&] { return ThreadCount() == threads + 1; }));
    heap = HeapInUse();
    RunConnections(server.ListeningPort(), Connections(), 4);
  }
  EXPECT_TRUE(Eventually([&] { return OpenDescriptorCount() == descriptors; }, 120s))
      << OpenDescriptorCount() << " descriptors open, " << descriptors << " at the start";
  EXPECT_TRUE(Eventually([&] { return ThreadCount() == threads; }, 120s))
      << ThreadCount() << " threads, " << threads << " at the start";
  if (kHeapMeasurable) {
    // A leak of even a few bytes per connection would show many times over.
    const size_t now = HeapInUse();
    EXPECT_LT(now, heap + 64 * 1024) << "heap grew from " << heap << " to " << now;
  }
  FakeDriver::Get().SetRecording(true);
}

}  // namespace
}  // namespace wendrix::test
