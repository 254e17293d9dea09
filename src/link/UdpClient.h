// Discovery broadcaster: announces the PC once on every IPv4 network.
#pragma once

#include <cstdint>
#include <memory>

#include "SystemSockets.h"
#include "link/Sockets.h"

namespace wendrix {

// The calls an announcement is sent with; tests replace them so that no
// datagram can leave the test.
struct BroadcastSocketEntries {
  SocketHandle (*socket)(int family, int type, int protocol);
  int (*bind)(SocketHandle s, const sockaddr* address, socklen_t length);
  int (*setsockopt)(SocketHandle s, int level, int name, const void* value, socklen_t length);
  ssize_t (*sendto)(SocketHandle s, const void* data, size_t length, int flags, const sockaddr* to,
                    socklen_t toLength);
  int (*closesocket)(SocketHandle s);
};

extern BroadcastSocketEntries BroadcastSockets;
// The system's calls, as BroadcastSockets holds them at start.
extern const BroadcastSocketEntries kSystemBroadcastSockets;

// Used only on the window thread. Never destroyed in the program.
class TUdpClient {
 public:
  TUdpClient();

  // One pass: the announcement to the directed broadcast address of every
  // IPv4 interface but 127.0.0.1. Every socket it opens is closed before
  // it returns; each address and whether its send worked go to gStatus.
  void AnnounceOnAllInterfaces();

  SocketHandle SendSocket = kInvalidSocket;
  std::unique_ptr<uint8_t[]> Announcement;
  int32_t AnnouncementLength = 0;

 private:
  // Whether the whole announcement went out.
  bool AnnounceOn(uint32_t address, uint32_t netmask);
  void CloseSendSocket();
};

}  // namespace wendrix
