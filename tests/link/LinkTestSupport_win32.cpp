// The phone side of the link tests on Windows sockets 1.1, like the
// program, so that no test program imports ws2_32.dll.
#include "LinkTestSupport.h"

#include "SystemSockets.h"

#include <tlhelp32.h>

#include <algorithm>
#include <thread>

namespace wendrix::test {

namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

SOCKET Sys(int fd) { return ToSystemSocket(fd); }

}  // namespace

int ConnectLoopback(uint16_t port) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return -1;
  const int one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  const sockaddr_in a = Loopback(port);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    ::closesocket(s);
    return -1;
  }
  return FromSystemSocket(s);
}

uint16_t LocalPort(int fd) {
  sockaddr_in a{};
  int length = sizeof a;
  return ::getsockname(Sys(fd), reinterpret_cast<sockaddr*>(&a), &length) == 0 ? ntohs(a.sin_port) : 0;
}

long ClientSend(int fd, const uint8_t* data, size_t length) {
  return ::send(Sys(fd), reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
}

long ClientReceive(int fd, uint8_t* buffer, size_t length) {
  return ::recv(Sys(fd), reinterpret_cast<char*>(buffer), static_cast<int>(length), 0);
}

bool ClientReadable(int fd, std::chrono::steady_clock::time_point end) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Sys(fd), &set);
    const long ms = static_cast<long>(std::min<long long>(left.count(), 200));
    timeval t{ms / 1000, (ms % 1000) * 1000};
    if (::select(0, &set, nullptr, nullptr, &t) > 0) return true;
  }
}

void CloseWithReset(int fd) {
  linger l{1, 0};
  ::setsockopt(Sys(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  ::closesocket(Sys(fd));
}

void CloseClient(int fd) { ::closesocket(Sys(fd)); }

void EndWrites(int fd) { ::shutdown(Sys(fd), SD_SEND); }

int OpenUdpClient() { return FromSystemSocket(::socket(AF_INET, SOCK_DGRAM, 0)); }

bool SendDatagramTo(int fd, uint16_t port, std::span<const uint8_t> bytes) {
  const sockaddr_in a = Loopback(port);
  return ::sendto(Sys(fd), reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                  reinterpret_cast<const sockaddr*>(&a), sizeof a) == static_cast<int>(bytes.size());
}

// Handles of every kind: sockets, threads, events.
size_t OpenDescriptorCount() {
  DWORD count = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &count);
  return count;
}

size_t ThreadCount() {
  size_t n = 0;
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++n;
  ::CloseHandle(snapshot);
  return n;
}

// A joined thread has ended: the system lists it no more.
bool SettleThreads() {
  std::thread([] {}).join();
  return true;
}

// Windows sets no per-process limit on sockets.
bool AllowDescriptors(size_t) { return true; }

}  // namespace wendrix::test
