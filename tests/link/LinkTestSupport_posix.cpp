#include "LinkTestSupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace wendrix::test {

static sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

int ConnectLoopback(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const sockaddr_in a = Loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  return getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0 ? ntohs(a.sin_port) : 0;
}

long ClientSend(int fd, const uint8_t* data, size_t length) { return send(fd, data, length, MSG_NOSIGNAL); }

long ClientReceive(int fd, uint8_t* buffer, size_t length) { return recv(fd, buffer, length, 0); }

bool ClientReadable(int fd, std::chrono::steady_clock::time_point end) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r > 0) return true;
  }
}

void CloseWithReset(int fd) {
  linger l{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(fd);
}

void CloseClient(int fd) { close(fd); }

void EndWrites(int fd) { shutdown(fd, SHUT_WR); }

int OpenUdpClient() { return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); }

bool SendDatagramTo(int fd, uint16_t port, std::span<const uint8_t> bytes) {
  const sockaddr_in a = Loopback(port);
  return sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a) ==
         static_cast<ssize_t>(bytes.size());
}

static size_t CountEntries(const char* path) {
  size_t n = 0;
  if (DIR* d = opendir(path)) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

size_t OpenDescriptorCount() { return CountEntries("/proc/self/fd"); }
size_t ThreadCount() { return CountEntries("/proc/self/task"); }

bool SettleThreads() {
  // A joined thread may still be listed for a moment.
  pid_t helper = 0;
  std::thread([&] { helper = gettid(); }).join();
  const std::string listed = "/proc/self/task/" + std::to_string(helper);
  return Eventually([&] { return access(listed.c_str(), F_OK) != 0; });
}

bool AllowDescriptors(size_t n) {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < n && files.rlim_max >= n) {
    files.rlim_cur = n;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  return files.rlim_cur >= n;
}

}  // namespace wendrix::test
