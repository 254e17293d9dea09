#include "link/winsock2.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "link/BluezRegistration.h"
#include "link/InterfaceList.h"

namespace wendrix {

Winsock2EntryPoints Winsock2Entries;

namespace {
int StartupPosix(uint16_t, void*) { return 0; }
int LastErrorPosix() { return errno; }
SocketHandle SocketPosix(int family, int type, int protocol) {
  return ::socket(family, type | SOCK_CLOEXEC, protocol);
}
int BindPosix(SocketHandle s, const sockaddr* a, socklen_t n) { return ::bind(s, a, n); }
int ListenPosix(SocketHandle s, int backlog) { return ::listen(s, backlog); }
// A signal, or a connection that went before it was taken, is no failure
// of the listening socket: wait on.
SocketHandle AcceptPosix(SocketHandle s, sockaddr* a, socklen_t* n) {
  SocketHandle r;
  do r = ::accept4(s, a, n, SOCK_CLOEXEC);
  while (r < 0 && (errno == EINTR || errno == ECONNABORTED));
  return r;
}
int GetSockNamePosix(SocketHandle s, sockaddr* a, socklen_t* n) { return ::getsockname(s, a, n); }
// A signal is no failure of the stream: receive again.
ssize_t RecvPosix(SocketHandle s, void* b, size_t n, int flags) {
  ssize_t r;
  do r = ::recv(s, b, n, flags);
  while (r < 0 && errno == EINTR);
  return r;
}
int ClosePosix(SocketHandle s) { return ::close(s); }
int library;  // stands for the loaded library's handle
}  // namespace

bool LoadWinsock2() {
  if (Winsock2Entries.library) return true;
  Winsock2Entries.WSAStartup = &StartupPosix;
  Winsock2Entries.WSAGetLastError = &LastErrorPosix;
  Winsock2Entries.socket = &SocketPosix;
  Winsock2Entries.bind = &BindPosix;
  Winsock2Entries.listen = &ListenPosix;
  Winsock2Entries.accept = &AcceptPosix;
  Winsock2Entries.getsockname = &GetSockNamePosix;
  Winsock2Entries.WSAIoctl = &QueryInterfaceList;
  Winsock2Entries.WSASetService = &SetServiceBluez;
  Winsock2Entries.recv = &RecvPosix;
  Winsock2Entries.closesocket = &ClosePosix;
  Winsock2Entries.library = &library;
  return true;
}

bool UnloadWinsock2() {
  Winsock2Entries.library = nullptr;
  return true;
}

}  // namespace wendrix
