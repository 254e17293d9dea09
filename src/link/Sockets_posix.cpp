#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "link/Sockets.h"

namespace wendrix {

const int kMessageTooLong = EMSGSIZE;

SocketHandle OpenTcpSocket() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
SocketHandle OpenUdpSocket() { return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); }

int CloseSocket(SocketHandle s) { return ::close(s); }

void ShutdownSocket(SocketHandle s) { ::shutdown(s, SHUT_RDWR); }

int BindToAnyAddress(SocketHandle s, uint16_t port) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  return ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local);
}

int ListenOn(SocketHandle s, int backlog) { return ::listen(s, backlog); }

SocketHandle AcceptConnection(SocketHandle listening) {
  return ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
}

uint16_t LocalPort(SocketHandle s) {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

long SendBytes(SocketHandle s, const void* data, size_t length) {
  return ::send(s, data, length, MSG_NOSIGNAL);
}

long ReceiveDatagram(SocketHandle s, void* buffer, size_t length) {
  // MSG_TRUNC makes the call report the datagram's real length.
  ssize_t n = ::recvfrom(s, buffer, length, MSG_TRUNC, nullptr, nullptr);
  if (n > static_cast<ssize_t>(length)) {
    errno = EMSGSIZE;
    return kSocketError;
  }
  return n;
}

static int SetIntOption(SocketHandle s, int level, int name, int value) {
  return ::setsockopt(s, level, name, &value, sizeof value);
}

int SetNoDelay(SocketHandle s) { return SetIntOption(s, IPPROTO_TCP, TCP_NODELAY, 1); }

int SetReuseAddress(SocketHandle s) { return SetIntOption(s, SOL_SOCKET, SO_REUSEADDR, 1); }

int SetKeepAlive(SocketHandle s, int idleSeconds, int intervalSeconds, int probes) {
  int failed = 0;
  failed |= SetIntOption(s, SOL_SOCKET, SO_KEEPALIVE, 1);
  failed |= SetIntOption(s, IPPROTO_TCP, TCP_KEEPIDLE, idleSeconds);
  failed |= SetIntOption(s, IPPROTO_TCP, TCP_KEEPINTVL, intervalSeconds);
  failed |= SetIntOption(s, IPPROTO_TCP, TCP_KEEPCNT, probes);
  // Without this, data that is never acknowledged (the greeting to a phone
  // that is already gone) holds the connection for many minutes.
  const int timeoutMs = (idleSeconds + intervalSeconds * probes) * 1000;
  failed |= SetIntOption(s, IPPROTO_TCP, TCP_USER_TIMEOUT, timeoutMs);
  return failed ? kSocketError : 0;
}

int LastSocketError() { return errno; }

bool IsResourceShortage(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace wendrix
