// The socket layer on Windows sockets 1.1 (wsock32).
#include <chrono>
#include <mutex>
#include <unordered_set>

#include "SystemSockets.h"
#include "Winsock2Library.h"
#include "link/Sockets.h"

#include <mstcpip.h>

namespace wendrix {

const int kMessageTooLong = WSAEMSGSIZE;

namespace {

// Windows wakes no blocked accept or recvfrom on shutdown, so the blocking
// calls of this layer wait in slices and look here between them.
std::mutex gShutdownLock;
std::unordered_set<SocketHandle> gShutDown;

bool IsShutDown(SocketHandle s) {
  std::lock_guard lock(gShutdownLock);
  return gShutDown.count(s) != 0;
}

constexpr long kWaitSliceMicroseconds = 100000;

// Waits until `s` is readable; false (with WSAESHUTDOWN) once the socket
// is shut down, or on failure.
bool AwaitReadable(SocketHandle s) {
  for (;;) {
    if (IsShutDown(s)) {
      ::WSASetLastError(WSAESHUTDOWN);
      return false;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(ToSystemSocket(s), &readable);
    timeval slice{0, kWaitSliceMicroseconds};
    const int r = ::select(0, &readable, nullptr, nullptr, &slice);
    if (r == SOCKET_ERROR) return false;
    if (r > 0) return true;
  }
}

int SetIntOption(SocketHandle s, int level, int name, int value) {
  return ::setsockopt(ToSystemSocket(s), level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

// Per-socket TCP options of Windows 10 (1709) and later.
constexpr int kTcpMaxRetransmitSeconds = 5;  // TCP_MAXRT
constexpr int kTcpKeepCount = 16;            // TCP_KEEPCNT

}  // namespace

SocketHandle OpenTcpSocket() { return FromSystemSocket(::socket(AF_INET, SOCK_STREAM, 0)); }
SocketHandle OpenUdpSocket() { return FromSystemSocket(::socket(AF_INET, SOCK_DGRAM, 0)); }

int CloseSocket(SocketHandle s) {
  {
    std::lock_guard lock(gShutdownLock);
    gShutDown.erase(s);
  }
  return ::closesocket(ToSystemSocket(s));
}

void ShutdownSocket(SocketHandle s) {
  {
    std::lock_guard lock(gShutdownLock);
    gShutDown.insert(s);
  }
  ::shutdown(ToSystemSocket(s), SD_BOTH);
}

int BindToAnyAddress(SocketHandle s, uint16_t port) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  return ::bind(ToSystemSocket(s), reinterpret_cast<const sockaddr*>(&local), sizeof local);
}

int ListenOn(SocketHandle s, int backlog) { return ::listen(ToSystemSocket(s), backlog); }

SocketHandle AcceptConnection(SocketHandle listening) {
  if (!AwaitReadable(listening)) return kInvalidSocket;
  return FromSystemSocket(::accept(ToSystemSocket(listening), nullptr, nullptr));
}

uint16_t LocalPort(SocketHandle s) {
  sockaddr_in local{};
  int length = sizeof local;
  if (::getsockname(ToSystemSocket(s), reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

long SendBytes(SocketHandle s, const void* data, size_t length) {
  return ::send(ToSystemSocket(s), static_cast<const char*>(data), static_cast<int>(length), 0);
}

// A datagram longer than the buffer fails with WSAEMSGSIZE by itself.
long ReceiveDatagram(SocketHandle s, void* buffer, size_t length) {
  if (!AwaitReadable(s)) return kSocketError;
  return ::recvfrom(ToSystemSocket(s), static_cast<char*>(buffer), static_cast<int>(length), 0, nullptr,
                    nullptr);
}

int SetNoDelay(SocketHandle s) { return SetIntOption(s, IPPROTO_TCP, TCP_NODELAY, 1); }

// Windows lets a listener bind while old connections wait out TIME_WAIT
// anyway; what it needs is the opposite guard, so that no other program
// can bind the same port beside a live listener.
int SetReuseAddress(SocketHandle s) { return SetIntOption(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1); }

int SetKeepAlive(SocketHandle s, int idleSeconds, int intervalSeconds, int probes) {
  if (SetIntOption(s, SOL_SOCKET, SO_KEEPALIVE, 1) == SOCKET_ERROR) return kSocketError;
  // Idle time and interval through the version 2 binding; every Windows
  // since Vista has it.
  if (!Ws2_32.WSAIoctl) return kSocketError;
  tcp_keepalive values{1, static_cast<ULONG>(idleSeconds) * 1000, static_cast<ULONG>(intervalSeconds) * 1000};
  DWORD bytes = 0;
  if (Ws2_32.WSAIoctl(ToSystemSocket(s), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &bytes,
                      nullptr, nullptr) == SOCKET_ERROR)
    return kSocketError;
  // The probe count and a bound on unacknowledged data only from Windows
  // 10 (1709) on; without them Windows sends 10 probes, and the greeting
  // to a phone that is gone is retried for its default time.
  SetIntOption(s, IPPROTO_TCP, kTcpKeepCount, probes);
  SetIntOption(s, IPPROTO_TCP, kTcpMaxRetransmitSeconds, idleSeconds + intervalSeconds * probes);
  return 0;
}

int LastSocketError() { return ::WSAGetLastError(); }

bool IsResourceShortage(int error) { return error == WSAEMFILE || error == WSAENOBUFS; }

}  // namespace wendrix
