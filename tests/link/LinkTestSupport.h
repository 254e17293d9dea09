// Phone-side helpers of the link tests: loopback clients, waiting on
// conditions, and the process's descriptor and thread counts (one file
// per platform).
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <thread>
#include <vector>

namespace wendrix::test {

using namespace std::chrono_literals;

// Generous: the suite runs on a loaded two-core machine and under sanitizers.
constexpr std::chrono::milliseconds kDeadline = 30s;

// Polls `condition` until it holds or the deadline passes; its last value.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds deadline = kDeadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return condition();
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A TCP client connected to 127.0.0.1:port with TCP_NODELAY, or -1.
int ConnectLoopback(uint16_t port);
bool SendAll(int fd, std::span<const uint8_t> bytes);
// Reads up to `count` bytes, stopping early at end of stream or deadline.
std::vector<uint8_t> ReadBytes(int fd, size_t count, std::chrono::milliseconds deadline = kDeadline);
// Whether the peer closed the stream within the deadline; data is dropped.
bool PeerClosed(int fd, std::chrono::milliseconds deadline = kDeadline);
// Closes with a reset instead of an orderly end.
void CloseWithReset(int fd);
void CloseClient(int fd);
// Ends the client's direction of the stream; reading goes on.
void EndWrites(int fd);
// The client's own port, as its peer sees it.
uint16_t LocalPort(int fd);

int OpenUdpClient();
bool SendDatagramTo(int fd, uint16_t port, std::span<const uint8_t> bytes);

// The platform's socket calls under the helpers above: one send, one
// receive (their byte counts, 0 or negative at the end), and a wait until
// fd is readable (false at the deadline).
long ClientSend(int fd, const uint8_t* data, size_t length);
long ClientReceive(int fd, uint8_t* buffer, size_t length);
bool ClientReadable(int fd, std::chrono::steady_clock::time_point end);

inline std::vector<uint8_t> Concat(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  std::vector<uint8_t> v(a.begin(), a.end());
  v.insert(v.end(), b.begin(), b.end());
  return v;
}

size_t OpenDescriptorCount();
size_t ThreadCount();
// Starts and joins a thread and waits until the system lists it no more,
// so that a thread count taken next holds still (a sanitizer's runtime
// starts a thread of its own with the first one); false if it stays listed.
bool SettleThreads();
// Lets the process have at least n descriptors open where the system
// limits them per process; false when it cannot.
bool AllowDescriptors(size_t n);

}  // namespace wendrix::test
