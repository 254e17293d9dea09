#include "SystemSockets.h"
#include "link/UdpClient.h"

namespace wendrix {

namespace {
SocketHandle OpenSocket(int family, int type, int protocol) {
  return FromSystemSocket(::socket(family, type, protocol));
}
int Bind(SocketHandle s, const sockaddr* address, socklen_t length) {
  return ::bind(ToSystemSocket(s), address, length);
}
int SetOption(SocketHandle s, int level, int name, const void* value, socklen_t length) {
  return ::setsockopt(ToSystemSocket(s), level, name, static_cast<const char*>(value), length);
}
ssize_t SendTo(SocketHandle s, const void* data, size_t length, int flags, const sockaddr* to,
               socklen_t toLength) {
  return ::sendto(ToSystemSocket(s), static_cast<const char*>(data), static_cast<int>(length), flags, to,
                  toLength);
}
int Close(SocketHandle s) { return ::closesocket(ToSystemSocket(s)); }
}  // namespace

const BroadcastSocketEntries kSystemBroadcastSockets = {
    &OpenSocket, &Bind, &SetOption, &SendTo, &Close,
};

BroadcastSocketEntries BroadcastSockets = kSystemBroadcastSockets;

}  // namespace wendrix
