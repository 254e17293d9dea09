// Phone-side helpers of the link tests that both platforms share; the
// socket calls underneath are in LinkTestSupport_posix.cpp / _win32.cpp.
#include "LinkTestSupport.h"

namespace wendrix::test {

bool SendAll(int fd, std::span<const uint8_t> bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const long n = ClientSend(fd, bytes.data() + sent, bytes.size() - sent);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::vector<uint8_t> ReadBytes(int fd, size_t count, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  std::vector<uint8_t> bytes(count);
  size_t got = 0;
  while (got < count && ClientReadable(fd, end)) {
    const long n = ClientReceive(fd, bytes.data() + got, count - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

bool PeerClosed(int fd, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  uint8_t sink[4096];
  while (ClientReadable(fd, end)) {
    if (ClientReceive(fd, sink, sizeof sink) <= 0) return true;  // end of stream, or reset
  }
  return false;
}

}  // namespace wendrix::test
