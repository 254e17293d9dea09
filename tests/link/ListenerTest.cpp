#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <ctime>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "FakeDriver.h"
#include "LinkTestSupport.h"
#include "joystick/ControlState.h"
#include "link/TcpServer.h"
#include "link/UdpServer.h"
#include "protocol/Protocol.h"

namespace wendrix::test {
namespace {

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The CPU time the process uses over `window`: a listener that retried
// without pause would burn most of it.
double CpuSecondsOver(std::chrono::milliseconds window) {
  const double before = ProcessCpuSeconds();
  std::this_thread::sleep_for(window);
  return ProcessCpuSeconds() - before;
}

class UdpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    udp_ = std::make_unique<TUdpServer>(0);
    udp_->Start();
    ASSERT_TRUE(Eventually([&] { return udp_->ReceivingPort() != 0; }));
    client_ = OpenUdpClient();
  }
  void TearDown() override {
    close(client_);
    udp_.reset();
  }
  bool Send(std::span<const uint8_t> bytes) { return SendDatagramTo(client_, udp_->ReceivingPort(), bytes); }
  static std::vector<JoystickReport> Updates() { return FakeDriver::Get().Updates(); }

  std::unique_ptr<TUdpServer> udp_;
  int client_ = -1;
};

TEST_F(UdpTest, OnlyEightByteDatagramsOfTypeOneAreTaken) {
  const auto valid = BuildControlDatagram({2, 5000, 6000, 0x03});
  std::vector<std::vector<uint8_t>> ignored = {
      {valid.begin(), valid.begin() + 7},      // 7 bytes
      Concat(valid, std::vector<uint8_t>{0}),  // 9 bytes
      {},                                      // empty
  };
  for (uint8_t type : {0, 2}) {
    auto d = BuildControlDatagram({2, 5000, 6000, 0}, type);
    ignored.emplace_back(d.begin(), d.end());
  }
  for (size_t size : {101, 200, 1500}) {
    std::vector<uint8_t> big(valid.begin(), valid.end());
    big.resize(size, 0);
    ignored.push_back(big);
  }
  for (const auto& d : ignored) ASSERT_TRUE(Send(d));

  // Datagrams from one socket arrive in order: when this one is decoded,
  // every earlier one has been dealt with.
  ASSERT_TRUE(Send(BuildControlDatagram({1, 1234, 4321, 0xFF})));
  ASSERT_TRUE(Eventually([] { return !Updates().empty(); }));
  auto u = Updates();
  ASSERT_EQ(u.size(), 1u);
  EXPECT_EQ(u[0].axisX, 1234);
  EXPECT_EQ(u[0].axisY, 4321);
  EXPECT_EQ(u[0].buttons, 0u) << "the button byte of a datagram is not used";
  // The link is marked just after the push the test has seen.
  EXPECT_TRUE(Eventually([] { return gState.wifiDataSeen.load(); }));
}

TEST_F(UdpTest, DatagramsFromAnySenderAreTakenAlike) {
  int second = OpenUdpClient();
  int third = OpenUdpClient();
  sockaddr_in other{};
  other.sin_family = AF_INET;
  other.sin_addr.s_addr = inet_addr("127.0.0.2");
  ASSERT_EQ(bind(third, reinterpret_cast<sockaddr*>(&other), sizeof other), 0);
  const uint16_t port = udp_->ReceivingPort();
  ASSERT_TRUE(Send(BuildControlDatagram({1, 100, 0, 0})));
  ASSERT_TRUE(Eventually([] { return Updates().size() == 1; }));
  ASSERT_TRUE(SendDatagramTo(second, port, BuildControlDatagram({2, 200, 0, 0})));
  ASSERT_TRUE(Eventually([] { return Updates().size() == 2; }));
  ASSERT_TRUE(SendDatagramTo(third, port, BuildControlDatagram({3, 300, 0, 0})));
  ASSERT_TRUE(Eventually([] { return Updates().size() == 3; }));
  EXPECT_EQ(Updates().back().axisX, 300);
  close(second);
  close(third);
}

// An accept callback that records each socket and can be held inside the
// call, as a slow callback would be.
struct AcceptRecord {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<int> sockets;
  bool hold = false;
} gAccepted;

void RecordAccepted(SocketHandle s) {
  std::unique_lock lock(gAccepted.lock);
  gAccepted.sockets.push_back(s);
  gAccepted.changed.notify_all();
  gAccepted.changed.wait(lock, [] { return !gAccepted.hold; });
}

size_t AcceptedCount() {
  std::lock_guard lock(gAccepted.lock);
  return gAccepted.sockets.size();
}

// Whether a thread of this process is blocked in accept4, which has then
// already reserved the descriptor of the connection it waits for.
bool AThreadWaitsInAccept() {
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return false;
  bool waiting = false;
  while (dirent* e = readdir(tasks)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/syscall");
    long number = -1;
    waiting |= (in >> number) && number == SYS_accept4;
  }
  closedir(tasks);
  return waiting;
}

int IntOption(int fd, int level, int name) {
  int value = -1;
  socklen_t length = sizeof value;
  getsockopt(fd, level, name, &value, &length);
  return value;
}

TEST(TcpListener, QueuedConnectionsReachTheCallbackOnceEachInOrderWithOptionsSet) {
  gAccepted.sockets.clear();
  gAccepted.hold = true;
  TTcpServer server(&RecordAccepted, 0);
  server.Start();
  ASSERT_TRUE(Eventually([&] { return server.ListeningPort() != 0; }));

  // The first waits inside the callback; the others wait in the queue.
  std::vector<int> clients;
  for (uint8_t id = 1; id <= 5; ++id) {
    int fd = ConnectLoopback(server.ListeningPort());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, std::vector<uint8_t>{id}));
    clients.push_back(fd);
    if (id == 1) {
      ASSERT_TRUE(Eventually([] { return AcceptedCount() == 1; }));
    }
  }
  EXPECT_EQ(AcceptedCount(), 1u);
  {
    std::lock_guard lock(gAccepted.lock);
    gAccepted.hold = false;
    gAccepted.changed.notify_all();
  }
  ASSERT_TRUE(Eventually([] { return AcceptedCount() == 5; }));
  for (size_t i = 0; i < 5; ++i) {
    int s = gAccepted.sockets[i];
    EXPECT_EQ(ReadBytes(s, 1), std::vector<uint8_t>{static_cast<uint8_t>(i + 1)});
    EXPECT_EQ(IntOption(s, IPPROTO_TCP, TCP_NODELAY), 1);
    EXPECT_EQ(IntOption(s, SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_LE(IntOption(s, IPPROTO_TCP, TCP_KEEPIDLE), 30);
    EXPECT_GT(IntOption(s, IPPROTO_TCP, TCP_USER_TIMEOUT), 0);
    close(s);
  }
  for (int fd : clients) close(fd);
  EXPECT_EQ(AcceptedCount(), 5u);
}

TEST(ListenerRetry, AHeldPortIsRetriedQuietlyAndServedOnceFree) {
  ResetProcessState();
  gAccepted.sockets.clear();
  gAccepted.hold = false;
  // Another program holds both ports.
  int tcpHolder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int udpHolder = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  socklen_t length = sizeof any;
  ASSERT_EQ(bind(tcpHolder, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
  ASSERT_EQ(listen(tcpHolder, 1), 0);
  ASSERT_EQ(getsockname(tcpHolder, reinterpret_cast<sockaddr*>(&any), &length), 0);
  const uint16_t tcpPort = ntohs(any.sin_port);
  any.sin_port = 0;
  ASSERT_EQ(bind(udpHolder, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
  ASSERT_EQ(getsockname(udpHolder, reinterpret_cast<sockaddr*>(&any), &length), 0);
  const uint16_t udpPort = ntohs(any.sin_port);

  TTcpServer tcp(&RecordAccepted, tcpPort);
  TUdpServer udp(udpPort);
  tcp.Start();
  udp.Start();
  EXPECT_LT(CpuSecondsOver(2500ms), 0.25);
  EXPECT_EQ(tcp.ListeningPort(), 0);
  EXPECT_EQ(udp.ReceivingPort(), 0);

  close(tcpHolder);
  close(udpHolder);
  ASSERT_TRUE(Eventually([&] { return tcp.ListeningPort() == tcpPort && udp.ReceivingPort() == udpPort; }));
  int client = ConnectLoopback(tcpPort);
  ASSERT_GE(client, 0);
  ASSERT_TRUE(Eventually([] { return AcceptedCount() == 1; }));
  close(gAccepted.sockets[0]);
  close(client);
  int sender = OpenUdpClient();
  ASSERT_TRUE(SendDatagramTo(sender, udpPort, BuildControlDatagram({1, 77, 0, 0})));
  EXPECT_TRUE(Eventually([] { return !FakeDriver::Get().Updates().empty(); }));
  close(sender);
}

TEST(ListenerRetry, RunningOutOfDescriptorsNeitherSpinsNorLosesTheConnection) {
  gAccepted.sockets.clear();
  gAccepted.hold = false;
  TTcpServer server(&RecordAccepted, 0);
  server.Start();
  ASSERT_TRUE(Eventually([&] { return server.ListeningPort() != 0; }));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(server.ListeningPort());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int first = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int second = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  // The port shows before the listener has reached accept.
  ASSERT_TRUE(Eventually(AThreadWaitsInAccept));

  // No new descriptor from here on.
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  const int lowestFree = dup(0);
  close(lowestFree);
  rlimit none = saved;
  none.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);

  // A waiting accept has already reserved its descriptor; the next fails.
  const int firstConnected = connect(first, reinterpret_cast<sockaddr*>(&to), sizeof to);
  const bool firstAccepted = Eventually([] { return AcceptedCount() == 1; });
  const int secondConnected = connect(second, reinterpret_cast<sockaddr*>(&to), sizeof to);
  const double cpu = CpuSecondsOver(1500ms);
  const size_t acceptedWhileShort = AcceptedCount();
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

  ASSERT_EQ(firstConnected, 0);
  ASSERT_TRUE(firstAccepted);
  ASSERT_EQ(secondConnected, 0);
  EXPECT_LT(cpu, 0.25);
  EXPECT_EQ(acceptedWhileShort, 1u);
  ASSERT_TRUE(Eventually([] { return AcceptedCount() == 2; }));
  for (int s : gAccepted.sockets) close(s);
  close(first);
  close(second);
}

}  // namespace
}  // namespace wendrix::test
