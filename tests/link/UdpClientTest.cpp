// The broadcaster against a made-up interface list, with every socket call
// replaced: nothing here can put a datagram on a network.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/InterfaceList.h"
#include "link/UdpClient.h"
#include "link/winsock2.h"

namespace wendrix {
namespace {

const std::string kExpectedAnnouncement("io.kavre.pad\x01\x01\x00\x00\xA2\x1F\x02", 19);

struct Datagram {
  std::string from;
  uint16_t fromPort;
  std::string to;
  uint16_t toPort;
  bool broadcast;
  std::string bytes;
};

struct FakeNetwork {
  std::vector<InterfaceInfo> interfaces;
  int queryResult = 0;
  std::optional<uint32_t> reportedBytes;  // instead of the true count
  bool querySocketFails = false;
  std::set<int> failingSockets;  // n-th datagram socket (0-based) fails
  std::set<int> failingBinds;
  std::optional<int> throwingSend;

  int queries = 0;
  int nextHandle = 100;
  int datagramSockets = 0;
  std::set<int> open;
  int badCloses = 0;
  std::map<int, sockaddr_in> bound;
  std::set<int> broadcastEnabled;
  std::vector<Datagram> sent;
};

FakeNetwork* net = nullptr;

std::string Text(in_addr a) {
  char text[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, &a, text, sizeof text);
}

int Open() {
  net->open.insert(net->nextHandle);
  return net->nextHandle++;
}

int Close(SocketHandle s) {
  if (net->open.erase(s) == 0) ++net->badCloses;
  return 0;
}

SocketHandle QuerySocket(int, int, int) { return net->querySocketFails ? -1 : Open(); }

int Query(SocketHandle s, uint32_t code, void*, uint32_t, void* out, uint32_t outLength,
          uint32_t* bytesReturned) {
  ++net->queries;
  if (!net->open.count(s) || code != SIO_GET_INTERFACE_LIST || net->queryResult != 0) return -1;
  const size_t bytes = net->interfaces.size() * sizeof(InterfaceInfo);
  if (bytes > outLength) return -1;
  std::memcpy(out, net->interfaces.data(), bytes);
  *bytesReturned = net->reportedBytes.value_or(static_cast<uint32_t>(bytes));
  return 0;
}

SocketHandle DatagramSocket(int family, int type, int) {
  EXPECT_EQ(family, AF_INET);
  EXPECT_EQ(type, SOCK_DGRAM);
  if (net->failingSockets.count(net->datagramSockets++)) return -1;
  return Open();
}

int Bind(SocketHandle s, const sockaddr* address, socklen_t length) {
  EXPECT_EQ(length, sizeof(sockaddr_in));
  if (net->failingBinds.count(static_cast<int>(net->bound.size()))) {
    net->bound[s] = sockaddr_in{};
    return -1;
  }
  std::memcpy(&net->bound[s], address, sizeof(sockaddr_in));
  return 0;
}

int SetOption(SocketHandle s, int level, int name, const void* value, socklen_t length) {
  int on = 0;
  if (length == sizeof on) std::memcpy(&on, value, sizeof on);
  if (level == SOL_SOCKET && name == SO_BROADCAST && on == 1) net->broadcastEnabled.insert(s);
  return 0;
}

ssize_t SendTo(SocketHandle s, const void* data, size_t length, int flags, const sockaddr* to,
               socklen_t toLength) {
  EXPECT_EQ(flags, 0);
  EXPECT_EQ(toLength, sizeof(sockaddr_in));
  if (net->throwingSend && *net->throwingSend == static_cast<int>(net->sent.size()))
    throw std::runtime_error("send");
  sockaddr_in destination;
  std::memcpy(&destination, to, sizeof destination);
  const sockaddr_in& from = net->bound[s];
  net->sent.push_back({Text(from.sin_addr), ntohs(from.sin_port), Text(destination.sin_addr),
                       ntohs(destination.sin_port), net->broadcastEnabled.count(s) > 0,
                       std::string(static_cast<const char*>(data), length)});
  return static_cast<ssize_t>(length);
}

InterfaceInfo Interface(const char* address, const char* netmask, uint32_t flags = 0) {
  InterfaceInfo info{};
  info.iiFlags = flags;
  info.iiAddress.sin_family = AF_INET;
  inet_pton(AF_INET, address, &info.iiAddress.sin_addr);
  info.iiNetmask.sin_family = AF_INET;
  inet_pton(AF_INET, netmask, &info.iiNetmask.sin_addr);
  return info;
}

class Broadcaster : public ::testing::Test {
 protected:
  void SetUp() override {
    net = &net_;
    savedEntries_ = Winsock2Entries;
    savedSockets_ = BroadcastSockets;
    Winsock2Entries.socket = &QuerySocket;
    Winsock2Entries.WSAIoctl = &Query;
    Winsock2Entries.closesocket = &Close;
    BroadcastSockets = {&DatagramSocket, &Bind, &SetOption, &SendTo, &Close};
  }
  void TearDown() override {
    EXPECT_TRUE(net_.open.empty()) << net_.open.size() << " sockets left open";
    EXPECT_EQ(net_.badCloses, 0);
    EXPECT_EQ(client_.SendSocket, kInvalidSocket);
    Winsock2Entries = savedEntries_;
    BroadcastSockets = savedSockets_;
    net = nullptr;
  }

  std::vector<std::string> Destinations() const {
    std::vector<std::string> out;
    for (const auto& d : net_.sent) out.push_back(d.from + " -> " + d.to);
    return out;
  }

  FakeNetwork net_;
  TUdpClient client_;
  Winsock2EntryPoints savedEntries_;
  BroadcastSocketEntries savedSockets_{};
};

TEST_F(Broadcaster, AnnouncementIsBuiltOnce) {
  ASSERT_EQ(client_.AnnouncementLength, 19);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(client_.Announcement.get()), 19),
            kExpectedAnnouncement);
  const uint8_t* before = client_.Announcement.get();
  net_.interfaces = {Interface("192.168.1.20", "255.255.255.0")};
  client_.AnnounceOnAllInterfaces();
  EXPECT_EQ(client_.Announcement.get(), before);
}

TEST_F(Broadcaster, LoopbackOnlySendsNothing) {
  net_.interfaces = {Interface("127.0.0.1", "255.0.0.0", kInterfaceUp | kInterfaceLoopback)};
  client_.AnnounceOnAllInterfaces();
  EXPECT_EQ(net_.queries, 1);
  EXPECT_TRUE(net_.sent.empty());
  EXPECT_EQ(net_.datagramSockets, 0);
}

struct BroadcastCase {
  const char* address;
  const char* netmask;
  const char* broadcast;
};

class DirectedBroadcast : public Broadcaster, public ::testing::WithParamInterface<BroadcastCase> {};

TEST_P(DirectedBroadcast, OneDatagramFromTheInterfaceAddress) {
  const BroadcastCase& c = GetParam();
  net_.interfaces = {Interface(c.address, c.netmask)};  // no flags: down interfaces count too
  client_.AnnounceOnAllInterfaces();
  ASSERT_EQ(net_.sent.size(), 1u);
  const Datagram& d = net_.sent[0];
  EXPECT_EQ(d.from, c.address);
  EXPECT_EQ(d.fromPort, 0);
  EXPECT_EQ(d.to, c.broadcast);
  EXPECT_EQ(d.toPort, 41503);
  EXPECT_TRUE(d.broadcast);
  EXPECT_EQ(d.bytes, kExpectedAnnouncement);
}

INSTANTIATE_TEST_SUITE_P(Interfaces, DirectedBroadcast,
                         ::testing::Values(BroadcastCase{"192.168.1.20", "255.255.255.0", "192.168.1.255"},
                                           BroadcastCase{"10.0.0.5", "255.0.0.0", "10.255.255.255"},
                                           BroadcastCase{"172.16.9.9", "255.255.255.255", "172.16.9.9"},
                                           BroadcastCase{"127.0.0.2", "255.0.0.0", "127.255.255.255"},
                                           BroadcastCase{"0.0.0.0", "0.0.0.0", "255.255.255.255"}));

TEST_F(Broadcaster, EveryInterfaceInListOrder) {
  net_.interfaces = {Interface("10.1.2.3", "255.255.0.0"), Interface("127.0.0.1", "255.0.0.0"),
                     Interface("192.168.1.20", "255.255.255.0")};
  client_.AnnounceOnAllInterfaces();
  EXPECT_EQ(Destinations(),
            (std::vector<std::string>{"10.1.2.3 -> 10.1.255.255", "192.168.1.20 -> 192.168.1.255"}));
}

TEST_F(Broadcaster, FailuresOnOneInterfaceLeaveTheOthersAnnounced) {
  net_.interfaces = {Interface("10.0.0.1", "255.0.0.0"), Interface("10.0.0.2", "255.0.0.0"),
                     Interface("10.0.0.3", "255.0.0.0")};
  net_.failingSockets = {0};
  net_.failingBinds = {0};  // the second interface's, the first having no socket
  client_.AnnounceOnAllInterfaces();
  // Unbound, a datagram would leave with another source: none is sent.
  EXPECT_EQ(Destinations(), std::vector<std::string>{"10.0.0.3 -> 10.255.255.255"});
}

TEST_F(Broadcaster, FailedQuerySendsNothing) {
  net_.interfaces = {Interface("192.168.1.20", "255.255.255.0")};
  net_.queryResult = -1;
  client_.AnnounceOnAllInterfaces();
  EXPECT_TRUE(net_.sent.empty());

  net_.queryResult = 0;
  net_.querySocketFails = true;
  client_.AnnounceOnAllInterfaces();
  EXPECT_TRUE(net_.sent.empty());
}

TEST_F(Broadcaster, WithoutTheBindingNothingIsAnnounced) {
  net_.interfaces = {Interface("192.168.1.20", "255.255.255.0")};
  Winsock2Entries.WSAIoctl = nullptr;
  client_.AnnounceOnAllInterfaces();
  Winsock2Entries = Winsock2EntryPoints{};
  client_.AnnounceOnAllInterfaces();
  EXPECT_EQ(net_.queries, 0);
  EXPECT_TRUE(net_.sent.empty());
}

TEST_F(Broadcaster, ExceptionEndsThePassWithEverySocketClosed) {
  net_.interfaces = {Interface("10.0.0.1", "255.0.0.0"), Interface("10.0.0.2", "255.0.0.0")};
  net_.throwingSend = 0;
  EXPECT_NO_THROW(client_.AnnounceOnAllInterfaces());
  EXPECT_EQ(net_.datagramSockets, 1);  // the second interface is not tried
  EXPECT_TRUE(net_.sent.empty());
}

TEST_F(Broadcaster, ByteCountIsTrustedOnlyUpToTheBuffer) {
  net_.interfaces = {Interface("10.0.0.1", "255.0.0.0"), Interface("10.0.0.2", "255.0.0.0")};
  net_.reportedBytes = 2 * sizeof(InterfaceInfo) - 1;  // a part record is ignored
  client_.AnnounceOnAllInterfaces();
  EXPECT_EQ(Destinations(), std::vector<std::string>{"10.0.0.1 -> 10.255.255.255"});

  net_.sent.clear();
  net_.reportedBytes = 0xFFFFFFFF;
  client_.AnnounceOnAllInterfaces();
  EXPECT_LE(net_.sent.size(), kInterfaceListBufferSize / sizeof(InterfaceInfo));
}

TEST_F(Broadcaster, AThousandPassesLeaveNoSocketOpen) {
  net_.interfaces = {Interface("10.0.0.1", "255.0.0.0"), Interface("192.168.1.20", "255.255.255.0")};
  net_.failingBinds = {3};
  for (int i = 0; i < 1000; ++i) client_.AnnounceOnAllInterfaces();
  EXPECT_EQ(net_.sent.size(), 1999u);
  EXPECT_EQ(net_.nextHandle - 100, 1000 + 2000);  // all of them closed: checked on tear-down
}

}  // namespace
}  // namespace wendrix
