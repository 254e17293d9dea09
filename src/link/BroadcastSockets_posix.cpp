#include <sys/socket.h>
#include <unistd.h>

#include "link/UdpClient.h"

namespace wendrix {

namespace {
SocketHandle OpenSocket(int family, int type, int protocol) {
  return ::socket(family, type | SOCK_CLOEXEC, protocol);
}
int Close(SocketHandle s) { return ::close(s); }
}  // namespace

const BroadcastSocketEntries kSystemBroadcastSockets = {
    &OpenSocket, &::bind, &::setsockopt, &::sendto, &Close,
};

BroadcastSocketEntries BroadcastSockets = kSystemBroadcastSockets;

}  // namespace wendrix
