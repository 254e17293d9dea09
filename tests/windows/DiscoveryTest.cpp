// Announcements through the system's sockets on Windows. An interface
// whose netmask is 255.255.255.255 gets its datagram at its own address,
// so a loopback address stands for an interface without a broadcast
// leaving the machine.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FakeDriver.h"
#include "SystemSockets.h"
#include "link/InterfaceList.h"
#include "link/UdpClient.h"
#include "link/winsock2.h"
#include "protocol/Protocol.h"

namespace wendrix {
namespace {

InterfaceInfo Interface(const char* address, uint32_t netmask) {
  InterfaceInfo info{};
  info.iiAddress.sin_family = AF_INET;
  info.iiAddress.sin_addr.s_addr = ::inet_addr(address);
  info.iiNetmask.sin_family = AF_INET;
  info.iiNetmask.sin_addr.s_addr = htonl(netmask);
  return info;
}

int ListTwoInterfaces(SocketHandle, uint32_t, void*, uint32_t, void* out, uint32_t outLength,
                      uint32_t* bytesReturned) {
  const InterfaceInfo list[] = {Interface("127.0.0.1", 0xFF000000), Interface("127.0.0.2", 0xFFFFFFFF)};
  if (outLength < sizeof list) return -1;
  std::memcpy(out, list, sizeof list);
  *bytesReturned = sizeof list;
  return 0;
}

// The system's bind, recording the local address.
std::vector<uint32_t> gBoundTo;
int RecordingBind(SocketHandle s, const sockaddr* address, socklen_t length) {
  gBoundTo.push_back(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
  return kSystemBroadcastSockets.bind(s, address, length);
}

TEST(Win32Discovery, TheAnnouncementLeavesFromTheInterfacesAddress) {
  test::ResetProcessState();  // the module initialisations start the sockets
  const SOCKET listener = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(listener, INVALID_SOCKET);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(kLinkPort);
  at.sin_addr.s_addr = ::inet_addr("127.0.0.2");
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << ::WSAGetLastError();

  ASSERT_TRUE(LoadWinsock2());
  const Winsock2EntryPoints saved = Winsock2Entries;
  Winsock2Entries.WSAIoctl = &ListTwoInterfaces;
  BroadcastSockets.bind = &RecordingBind;
  TUdpClient client;
  client.AnnounceOnAllInterfaces();
  Winsock2Entries = saved;
  BroadcastSockets = kSystemBroadcastSockets;
  EXPECT_EQ(gBoundTo, std::vector<uint32_t>{::inet_addr("127.0.0.2")});
  EXPECT_EQ(client.SendSocket, kInvalidSocket);

  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(listener, &readable);
  timeval wait{10, 0};
  ASSERT_EQ(::select(0, &readable, nullptr, nullptr, &wait), 1) << "no announcement arrived";
  uint8_t bytes[64];
  sockaddr_in from{};
  int fromLength = sizeof from;
  const int n = ::recvfrom(listener, reinterpret_cast<char*>(bytes), sizeof bytes, 0,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
  ASSERT_EQ(n, static_cast<int>(kAnnouncementSize));
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + n),
            std::vector<uint8_t>(kAnnouncement.begin(), kAnnouncement.end()));
  // Windows sends it from the bound address. Wine binds a socket to an
  // address outside its own interface list (127.0.0.2 here) to any
  // address instead, so the source is not checked.

  // 127.0.0.1 is skipped: nothing else arrives.
  FD_ZERO(&readable);
  FD_SET(listener, &readable);
  timeval brief{0, 200000};
  EXPECT_EQ(::select(0, &readable, nullptr, nullptr, &brief), 0);
  ::closesocket(listener);
}

}  // namespace
}  // namespace wendrix
