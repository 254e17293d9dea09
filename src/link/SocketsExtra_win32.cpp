// Windows sockets 1.1 calls only (wsock32, linked): ws2_32.dll stays out of
// the program's import table. The page server holds at most a few dozen
// sockets, well within this fd_set.
#define FD_SETSIZE 256
#include <winsock2.h>

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

long ReceiveDatagramFrom(SocketHandle s, void* buffer, size_t length, uint32_t& address, uint16_t& port) {
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

namespace {

// A non-blocking socket bound to 127.0.0.1 at `port` (0: the system picks
// one), which no other socket may take beside it; `local` is its address.
SOCKET OpenLoopback(int type, int protocol, uint16_t port, sockaddr_in& local) {
  const SOCKET s = ::socket(AF_INET, type, protocol);
  if (s == INVALID_SOCKET) return INVALID_SOCKET;
  BOOL exclusive = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
  local = {};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof local;
  if (!MakeNonBlocking(s) || ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

}  // namespace

SocketHandle OpenLoopbackListener(uint16_t port, int backlog) {
  sockaddr_in local;
  const SOCKET s = OpenLoopback(SOCK_STREAM, IPPROTO_TCP, port, local);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  if (::listen(s, backlog) != 0) {
    ::closesocket(s);
    return kInvalidSocket;
  }
  return static_cast<SocketHandle>(s);
}

SocketHandle OpenLoopbackWaker() {
  sockaddr_in local;
  const SOCKET s = OpenLoopback(SOCK_DGRAM, IPPROTO_UDP, 0, local);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  if (::connect(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
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
  if (count > FD_SETSIZE) return kSocketError;
  fd_set readers, writers, failures;
  FD_ZERO(&readers);
  FD_ZERO(&writers);
  FD_ZERO(&failures);
  for (size_t i = 0; i < count; ++i) {
    if (entries[i].wantRead) FD_SET(Native(entries[i].socket), &readers);
    if (entries[i].wantWrite) FD_SET(Native(entries[i].socket), &writers);
    FD_SET(Native(entries[i].socket), &failures);
  }
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int n = ::select(0, &readers, &writers, &failures, timeoutMs < 0 ? nullptr : &timeout);
  int ready = 0;
  for (size_t i = 0; i < count; ++i) {
    const SOCKET s = Native(entries[i].socket);
    const bool failed = n > 0 && FD_ISSET(s, &failures);
    entries[i].readable = n > 0 && (FD_ISSET(s, &readers) || failed);
    entries[i].writable = n > 0 && (FD_ISSET(s, &writers) || failed);
    ready += entries[i].readable || entries[i].writable;
  }
  return n == SOCKET_ERROR ? kSocketError : ready;
}

}  // namespace wendrix
