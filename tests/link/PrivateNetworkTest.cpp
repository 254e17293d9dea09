// The broadcaster and the interface query for real, inside a network
// namespace of the test's own: a thread moves into a fresh namespace, wires
// a veth pair with addresses in 198.18.0.0/15 and captures on the peer end.
// Nothing sent there can leave it; without the rights to make it the tests
// are skipped and nothing is sent at all.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/InterfaceList.h"
#include "link/UdpClient.h"
#include "link/winsock2.h"
#include "PrivateNetwork.h"
#include "protocol/Protocol.h"

namespace wendrix {
namespace {

const std::string kExpectedAnnouncement("io.kavre.pad\x01\x01\x00\x00\xA2\x1F\x02", 19);

const char kVethSetup[] =
    "ip link add wxa type veth peer name wxb; "
    "ip addr add 198.18.0.1/24 dev wxa; ip addr add 198.19.0.1/16 dev wxa; "
    "ip link add wxc type veth peer name wxd; ip addr add 198.18.9.1/24 dev wxc; "
    "ip link set wxa up; ip link set wxb up; "
    // Until the kernel has switched the link on, it drops what is sent.
    "for i in $(seq 200); do "
    "  ip link show wxa | grep -q 'state UP' && ip link show wxb | grep -q 'state UP' && exit 0; "
    "  sleep 0.1; "
    "done; exit 1";

std::string Text(uint32_t networkOrder) {
  in_addr a{networkOrder};
  char text[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, &a, text, sizeof text);
}

// UDP datagrams to port 41503 seen arriving on an interface, as
// "source -> destination" and payload.
struct Capture {
  explicit Capture(const char* interface) {
    fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP));
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_protocol = htons(ETH_P_IP);
    where.sll_ifindex = static_cast<int>(if_nametoindex(interface));
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ~Capture() {
    if (fd >= 0) ::close(fd);
  }

  // Waits, up to a generous deadline, until `count` datagrams have arrived.
  void Await(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (routes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) continue;
      uint8_t frame[2048];
      const ssize_t n = ::recv(fd, frame, sizeof frame, 0);
      if (n < static_cast<ssize_t>(sizeof(iphdr))) continue;
      iphdr ip;
      std::memcpy(&ip, frame, sizeof ip);
      const size_t header = ip.ihl * 4u;
      if (ip.protocol != IPPROTO_UDP || n < static_cast<ssize_t>(header + sizeof(udphdr))) continue;
      udphdr udp;
      std::memcpy(&udp, frame + header, sizeof udp);
      if (ntohs(udp.dest) != kLinkPort) continue;
      routes.push_back(Text(ip.saddr) + " -> " + Text(ip.daddr));
      payloads.emplace_back(reinterpret_cast<const char*>(frame + header + sizeof udp),
                            static_cast<size_t>(n) - header - sizeof udp);
    }
  }

  int fd = -1;
  std::vector<std::string> routes;
  std::vector<std::string> payloads;
};

size_t OpenDescriptors() {
  size_t count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count;
}

class PrivateNetwork : public ::testing::Test {
 protected:
  SystemNetworkCalls calls_;
};

TEST_F(PrivateNetwork, AnnouncementArrivesOnThePeerFromEachAddress) {
  std::vector<std::string> routes, payloads;
  bool captureOpen = false;
  size_t before = 0, after = 0;
  IN_PRIVATE_NETWORK(kVethSetup, [&] {
    Capture capture("wxb");
    captureOpen = capture.fd >= 0;
    if (!captureOpen) return;
    TUdpClient client;
    client.AnnounceOnAllInterfaces();
    capture.Await(2);
    routes = capture.routes;
    payloads = capture.payloads;

    before = OpenDescriptors();
    for (int i = 0; i < 1000; ++i) client.AnnounceOnAllInterfaces();
    after = OpenDescriptors();
  });
  ASSERT_TRUE(captureOpen);
  // The down link's address is announced on too, but nothing carries it.
  EXPECT_EQ(std::set<std::string>(routes.begin(), routes.end()),
            (std::set<std::string>{"198.18.0.1 -> 198.18.0.255", "198.19.0.1 -> 198.19.255.255"}));
  EXPECT_EQ(routes.size(), 2u);
  for (const auto& p : payloads) EXPECT_EQ(p, kExpectedAnnouncement);
  EXPECT_EQ(after, before) << "descriptors left open by 1000 passes";
}

struct Listed {
  std::string address;
  std::string netmask;
  bool up;
};

TEST_F(PrivateNetwork, InterfaceQueryListsEveryIpv4AddressWithItsNetmask) {
  std::vector<Listed> listed;
  int tooSmall = 0, tooSmallError = 0, otherCode = 0, badSocket = 0;
  IN_PRIVATE_NETWORK(kVethSetup, [&] {
    const SocketHandle s = Winsock2Entries.socket(AF_INET, SOCK_STREAM, 0);
    alignas(InterfaceInfo) uint8_t buffer[kInterfaceListBufferSize];
    uint32_t bytes = 0;
    if (Winsock2Entries.WSAIoctl(s, SIO_GET_INTERFACE_LIST, nullptr, 0, buffer, sizeof buffer, &bytes) == 0) {
      for (uint32_t i = 0; i < bytes / sizeof(InterfaceInfo); ++i) {
        InterfaceInfo info;
        std::memcpy(&info, buffer + i * sizeof info, sizeof info);
        listed.push_back({Text(info.iiAddress.sin_addr.s_addr), Text(info.iiNetmask.sin_addr.s_addr),
                          (info.iiFlags & kInterfaceUp) != 0});
      }
    }
    tooSmall = Winsock2Entries.WSAIoctl(s, SIO_GET_INTERFACE_LIST, nullptr, 0, buffer,
                                        2 * sizeof(InterfaceInfo), &bytes);
    tooSmallError = errno;
    otherCode = Winsock2Entries.WSAIoctl(s, 0x12345678, nullptr, 0, buffer, sizeof buffer, &bytes);
    Winsock2Entries.closesocket(s);
    badSocket =
        Winsock2Entries.WSAIoctl(s, SIO_GET_INTERFACE_LIST, nullptr, 0, buffer, sizeof buffer, &bytes);
  });
  ASSERT_EQ(listed.size(), 4u);
  std::set<std::string> seen;
  for (const auto& l : listed) {
    seen.insert(l.address + "/" + l.netmask + (l.up ? " up" : " down"));
  }
  EXPECT_EQ(seen, (std::set<std::string>{"127.0.0.1/255.0.0.0 up", "198.18.0.1/255.255.255.0 up",
                                         "198.19.0.1/255.255.0.0 up", "198.18.9.1/255.255.255.0 down"}));
  EXPECT_EQ(tooSmall, -1);
  EXPECT_EQ(tooSmallError, EFAULT);
  EXPECT_EQ(otherCode, -1);
  EXPECT_EQ(badSocket, -1);
}

}  // namespace
}  // namespace wendrix
