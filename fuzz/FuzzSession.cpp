// A session fed an arbitrary stream through a socket pair, cut into
// arbitrary pieces: handshake, legacy and framed modes. Every input must
// end with the session (or its framed reader) gone and its socket closed.
//
// Input: byte 0 chooses the link (bit 0: Bluetooth); byte 1 seeds the cut
// sizes; the rest is the stream the phone sends.
#include <dirent.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "FuzzDriverStub.h"
#include "link/MessageThread.h"
#include "link/TcpServer.h"
#include "link/winsock2.h"

using namespace wendrix;
using fuzz::Check;

namespace {

size_t OpenDescriptors() {
  size_t n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

// Waits until the session has taken everything sent, so that the next
// piece arrives in a receive of its own; gives up after a while, as a
// session that has ended takes nothing more.
void WaitUntilTaken(int phone) {
  for (int i = 0; i < 2000; ++i) {
    int queued = 0;
    if (ioctl(phone, SIOCOUTQ, &queued) != 0 || queued == 0) return;
    std::this_thread::yield();
  }
}

// libFuzzer's timer signal may interrupt any blocking call.
template <typename Call>
long Retrying(Call call) {
  long r;
  do r = call();
  while (r < 0 && errno == EINTR);
  return r;
}

bool ReadGreeting(int phone, uint8_t (&greeting)[2]) {
  size_t got = 0;
  while (got < sizeof greeting) {
    const long n = Retrying([&] { return recv(phone, greeting + got, sizeof greeting - got, 0); });
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

// Reads until the other end is closed; false when it stays open.
bool SessionClosed(int phone) {
  uint8_t sink[4096];
  for (;;) {
    pollfd p{phone, POLLIN, 0};
    if (Retrying([&] { return poll(&p, 1, 5000); }) <= 0) return false;
    if (Retrying([&] { return recv(phone, sink, sizeof sink, 0); }) <= 0) return true;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool bound = (InitializeTcpServerModule(), LoadWinsock2());
  Check(bound, "socket entries bound");
  if (size < 2) return 0;
  fuzz::ResetForInput(0);
  const size_t descriptors = OpenDescriptors();

  int pair[2];
  Check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0, "socket pair");
  const int phone = pair[1];
  if (data[0] & 1)
    OnBluetoothClientAccepted(pair[0], 0x0011223344AAu);
  else
    OnWifiClientAccepted(pair[0]);

  uint8_t greeting[2] = {};
  Check(ReadGreeting(phone, greeting), "greeting received");
  Check(greeting[0] == 0x00 && greeting[1] == 0x02, "greeting is 00 02");

  uint32_t cuts = data[1] * 2654435761u + 1;
  for (size_t at = 2; at < size;) {
    cuts ^= cuts << 13;
    cuts ^= cuts >> 17;
    cuts ^= cuts << 5;
    const size_t piece = std::min<size_t>(1 + cuts % 40, size - at);
    const long sent = Retrying([&] { return send(phone, data + at, piece, MSG_NOSIGNAL); });
    if (sent <= 0) break;  // the session has ended
    at += static_cast<size_t>(sent);
    WaitUntilTaken(phone);
  }
  shutdown(phone, SHUT_WR);
  Check(SessionClosed(phone), "the session ended and closed its socket at the end of the stream");
  close(phone);
  Check(OpenDescriptors() == descriptors, "no descriptor left open");
  return 0;
}
