#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <vector>

#include "link/SocketsExtra.h"

namespace wendrix {

bool IsAddressInUse(int error) { return error == EADDRINUSE; }
// sd-bus's errors for a bus or a name that is not there, or no answer.
bool IsRegistrarUnreachable(int error) {
  return error == EHOSTUNREACH || error == ENXIO || error == ENOENT || error == ECONNREFUSED ||
         error == ENOTCONN || error == ETIMEDOUT || error == ESRCH;
}
bool IsWouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

long ReceiveDatagramFrom(SocketHandle s, void* buffer, size_t length, uint32_t& address, uint16_t& port) {
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  // MSG_TRUNC makes the call report the datagram's real length.
  const ssize_t n = ::recvfrom(s, buffer, length, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &fromLength);
  const bool known = n >= 0 && from.sin_family == AF_INET;
  address = known ? from.sin_addr.s_addr : 0;
  port = known ? ntohs(from.sin_port) : 0;
  if (n > static_cast<ssize_t>(length)) {
    errno = EMSGSIZE;
    return kSocketError;
  }
  return n;
}

bool PeerAddress(SocketHandle s, uint32_t& address, uint16_t& port) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length) != 0 || peer.sin_family != AF_INET)
    return false;
  address = peer.sin_addr.s_addr;
  port = ntohs(peer.sin_port);
  return true;
}

namespace {

// A non-blocking socket bound to 127.0.0.1 at `port` (0: the system picks
// one); `local` is its address.
SocketHandle OpenLoopback(int type, uint16_t port, sockaddr_in& local) {
  const SocketHandle s = ::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) return kInvalidSocket;
  local = {};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof local;
  if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    CloseSocket(s);
    return kInvalidSocket;
  }
  return s;
}

}  // namespace

SocketHandle OpenLoopbackListener(uint16_t port, int backlog) {
  sockaddr_in local;
  const SocketHandle s = OpenLoopback(SOCK_STREAM, port, local);
  if (s != kInvalidSocket && ::listen(s, backlog) != 0) {
    CloseSocket(s);
    return kInvalidSocket;
  }
  return s;
}

SocketHandle OpenLoopbackWaker() {
  sockaddr_in local;
  const SocketHandle s = OpenLoopback(SOCK_DGRAM, 0, local);
  if (s != kInvalidSocket && ::connect(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    CloseSocket(s);
    return kInvalidSocket;
  }
  return s;
}

SocketHandle AcceptNonBlocking(SocketHandle listening) {
  return ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
}

long ReceiveNow(SocketHandle s, void* buffer, size_t length) {
  return ::recv(s, buffer, length, MSG_DONTWAIT);
}

long SendNow(SocketHandle s, const void* data, size_t length) {
  return ::send(s, data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
}

int WaitForSockets(SocketWait* entries, size_t count, int timeoutMs) {
  std::vector<pollfd> fds(count);
  for (size_t i = 0; i < count; ++i) {
    fds[i].fd = entries[i].socket;
    fds[i].events =
        static_cast<short>((entries[i].wantRead ? POLLIN : 0) | (entries[i].wantWrite ? POLLOUT : 0));
  }
  const int n = ::poll(fds.data(), fds.size(), timeoutMs);
  for (size_t i = 0; i < count; ++i) {
    const short got = n > 0 ? fds[i].revents : 0;
    entries[i].readable = (got & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0;
    entries[i].writable = (got & (POLLOUT | POLLERR | POLLHUP)) != 0;
  }
  return n < 0 ? kSocketError : n;
}

}  // namespace wendrix
