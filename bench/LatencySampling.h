// What the latency benchmarks share: the arrival clock the fake driver's
// update hook stops, the bare recvfrom loop that is their floor, one timed
// sample, percentiles, and pinning to one CPU.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace wendrix::bench {

using Clock = std::chrono::steady_clock;

inline int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Arrival of the last message on the path being measured.
inline std::atomic<int64_t> gArrivedAt{0};
inline std::atomic<uint64_t> gArrivals{0};

inline void Arrived() {
  gArrivedAt.store(Now(), std::memory_order_relaxed);
  gArrivals.fetch_add(1, std::memory_order_release);
}

// The fake driver's update hook.
inline void OnUpdate(const void*, void*) { Arrived(); }

inline sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, what, std::strerror(errno));
  std::exit(1);
}

// This thread, and every thread it makes from here on, on one CPU.
inline void PinToCpu(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  if (sched_setaffinity(0, sizeof set, &set) != 0) Fail("sched_setaffinity");
}

// The floor: the least a receiver can do, one recvfrom per datagram.
class BareReceiver {
 public:
  BareReceiver() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = Loopback(0);
    socklen_t n = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Fail("bind");
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      uint8_t buffer[100];
      while (recvfrom(fd_, buffer, sizeof buffer, 0, nullptr, nullptr) > 0) Arrived();
    });
  }
  ~BareReceiver() {
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  uint16_t port() const { return port_; }

 private:
  int fd_;
  uint16_t port_ = 0;
  std::thread thread_;
};

// Sends one message and waits for its arrival; the latency in µs, or a
// negative value when nothing arrived within a second.
template <typename Send>
double Sample(Send send) {
  const uint64_t before = gArrivals.load(std::memory_order_acquire);
  const int64_t sent = Now();
  send();
  const int64_t deadline = sent + 1'000'000'000;
  while (gArrivals.load(std::memory_order_acquire) == before) {
    if (Now() > deadline) return -1;
    std::this_thread::yield();
  }
  return static_cast<double>(gArrivedAt.load(std::memory_order_relaxed) - sent) / 1000.0;
}

inline double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

struct Path {
  const char* name;
  std::vector<double> micros;
  size_t lost = 0;
};

// Prints each path's p50 and p99, and their ratios to the first path's,
// the floor, in a table under `title`.
inline void PrintPaths(const std::vector<Path>& paths, const char* title, size_t samples, int cpu) {
  std::printf("%s, %zu samples per path, %s\n", title, samples,
              cpu >= 0 ? ("all threads on CPU " + std::to_string(cpu)).c_str() : "threads on any CPU");
  std::printf("%-34s %9s %9s %9s %9s %6s\n", "path", "p50 µs", "p99 µs", "p50/floor", "p99/floor", "lost");
  const double floor50 = Percentile(paths[0].micros, 0.50), floor99 = Percentile(paths[0].micros, 0.99);
  for (const Path& p : paths) {
    const double p50 = Percentile(p.micros, 0.50), p99 = Percentile(p.micros, 0.99);
    std::printf("%-34s %9.1f %9.1f %9.2f %9.2f %6zu\n", p.name, p50, p99, p50 / floor50, p99 / floor99,
                p.lost);
  }
}

}  // namespace wendrix::bench
