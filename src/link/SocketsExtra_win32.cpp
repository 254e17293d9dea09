// WSAPoll and WSA_FLAG_NO_HANDLE_INHERIT come with Windows 7 SP1.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0601
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <vector>

#include "link/SocketsExtra.h"

namespace wendrix {

namespace {
SOCKET Native(SocketHandle s) { return static_cast<SOCKET>(s); }

bool MakeNonBlocking(SOCKET s) {
  u_long on = 1;
  return ::ioctlsocket(s, FIONBIO, &on) == 0;
}
}  // namespace

bool IsAddressInUse(int error) { return error == WSAEADDRINUSE; }
bool IsRegistrarUnreachable(int error) {
  return error == WSASERVICE_NOT_FOUND || error == WSAENETDOWN || error == WSANOTINITIALISED ||
         error == WSASYSNOTREADY;
}
bool IsWouldBlock(int error) { return error == WSAEWOULDBLOCK; }

long ReceiveDatagramFrom(SocketHandle s, void* buffer, size_t length, uint32_t& address,
                         uint16_t& port) {
  sockaddr_in from{};
  int fromLength = sizeof from;
  const int n = ::recvfrom(Native(s), static_cast<char*>(buffer), static_cast<int>(length), 0,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
  // A datagram longer than the buffer fails with WSAEMSGSIZE but names its sender.
  const bool known = (n >= 0 || ::WSAGetLastError() == WSAEMSGSIZE) && from.sin_family == AF_INET;
  address = known ? from.sin_addr.s_addr : 0;
  port = known ? ntohs(from.sin_port) : 0;
  return n;
}

bool PeerAddress(SocketHandle s, uint32_t& address, uint16_t& port) {
  sockaddr_in peer{};
  int length = sizeof peer;
  if (::getpeername(Native(s), reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
      peer.sin_family != AF_INET)
    return false;
  address = peer.sin_addr.s_addr;
  port = ntohs(peer.sin_port);
  return true;
}

SocketHandle OpenLoopbackListener(uint16_t port, int backlog) {
  const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  // No other socket may take the same address and port beside it.
  BOOL exclusive = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!MakeNonBlocking(s) ||
      ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(s, backlog) != 0) {
    ::closesocket(s);
    return kInvalidSocket;
  }
  return static_cast<SocketHandle>(s);
}

SocketHandle AcceptNonBlocking(SocketHandle listening) {
  const SOCKET s = ::accept(Native(listening), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  // Accepted sockets inherit the listener's non-blocking mode; made sure.
  MakeNonBlocking(s);
  return static_cast<SocketHandle>(s);
}

long ReceiveNow(SocketHandle s, void* buffer, size_t length) {
  return ::recv(Native(s), static_cast<char*>(buffer), static_cast<int>(length), 0);
}

long SendNow(SocketHandle s, const void* data, size_t length) {
  return ::send(Native(s), static_cast<const char*>(data), static_cast<int>(length), 0);
}

int WaitForSockets(SocketWait* entries, size_t count, int timeoutMs) {
  std::vector<WSAPOLLFD> fds(count);
  for (size_t i = 0; i < count; ++i) {
    fds[i].fd = Native(entries[i].socket);
    fds[i].events = static_cast<SHORT>((entries[i].wantRead ? POLLRDNORM : 0) |
                                       (entries[i].wantWrite ? POLLWRNORM : 0));
  }
  const int n = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
  for (size_t i = 0; i < count; ++i) {
    const SHORT got = n > 0 ? fds[i].revents : 0;
    entries[i].readable = (got & (POLLRDNORM | POLLERR | POLLHUP | POLLNVAL)) != 0;
    entries[i].writable = (got & (POLLWRNORM | POLLERR | POLLHUP)) != 0;
  }
  return n == SOCKET_ERROR ? kSocketError : n;
}

}  // namespace wendrix
