// Latency from sendto on loopback to the driver update in the fake driver
// library, for UDP datagrams and framed TCP messages, beside a bare
// recvfrom loop measured in the same run as the floor; then the highest
// datagram rate the UDP receiver takes without loss.
//
// Run it from the build's tests directory (beside the fake driver
// library), inside a private network namespace:
//   unshare -n -- sh -c 'ip link set lo up && ./bench_link_latency'
// Options: --samples N (per path, default 20000), --gap-us N (pause
// between samples, default 100), --no-rate (skip the rate search),
// --cpu N (the CPU every thread runs on, default 0; -1 leaves them free).
//
// All threads share one CPU by default: on a busy machine, where a woken
// thread may wait for a CPU that another process holds, this puts every
// path under the same contention, so that the ratios compare the paths
// rather than the luck of where their threads ran.
#include <arpa/inet.h>
#include <sched.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "FakeDriver.h"
#include "LatencySampling.h"
#include "joystick/ControlState.h"
#include "link/MessageThread.h"
#include "link/TcpServer.h"
#include "link/UdpServer.h"
#include "protocol/Protocol.h"

using namespace wendrix;
using namespace wendrix::bench;

namespace {

// The same for a stream: one connection, one exact read per frame.
class BareStreamReceiver {
 public:
  explicit BareStreamReceiver(size_t frameSize) {
    listening_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(0);
    socklen_t n = sizeof a;
    if (bind(listening_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listening_, 1) != 0)
      Fail("listen");
    getsockname(listening_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, frameSize] {
      const int s = accept(listening_, nullptr, nullptr);
      int one = 1;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::vector<uint8_t> buffer(frameSize);
      while (recv(s, buffer.data(), buffer.size(), MSG_WAITALL) == static_cast<ssize_t>(frameSize)) Arrived();
      close(s);
    });
  }
  ~BareStreamReceiver() {
    thread_.join();
    close(listening_);
  }
  uint16_t port() const { return port_; }

 private:
  int listening_;
  uint16_t port_ = 0;
  std::thread thread_;
};

// Sends `count` valid datagrams evenly over `seconds` and counts the
// driver updates that follow.
bool Lossless(int fd, const sockaddr_in& to, double rate, double seconds, double* delivered) {
  const long count = std::lround(rate * seconds);
  const uint64_t before = gArrivals.load();
  const auto start = Clock::now();
  const auto period = std::chrono::duration<double>(1.0 / rate);
  for (long i = 0; i < count; ++i) {
    while (Clock::now() < start + std::chrono::duration_cast<Clock::duration>(period * i)) {
    }
    const auto d = BuildControlDatagram({0, static_cast<uint16_t>(i), 32768, 0});
    sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  // Let the receiver drain its queue.
  uint64_t seen = gArrivals.load();
  for (int quiet = 0; quiet < 20; ++quiet) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const uint64_t now = gArrivals.load();
    if (now != seen) quiet = 0;
    seen = now;
  }
  *delivered = static_cast<double>(seen - before) / static_cast<double>(count);
  return seen - before == static_cast<uint64_t>(count);
}

}  // namespace

int main(int argc, char** argv) {
  size_t samples = 20000;
  int gapMicros = 100;
  bool rateSearch = true;
  int cpu = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--samples" && i + 1 < argc)
      samples = std::strtoul(argv[++i], nullptr, 10);
    else if (a == "--gap-us" && i + 1 < argc)
      gapMicros = std::atoi(argv[++i]);
    else if (a == "--no-rate")
      rateSearch = false;
    else if (a == "--cpu" && i + 1 < argc)
      cpu = std::atoi(argv[++i]);
    else {
      std::fprintf(stderr, "usage: %s [--samples N] [--gap-us N] [--no-rate] [--cpu N]\n", argv[0]);
      return 2;
    }
  }

  if (cpu >= 0) PinToCpu(cpu);

  test::ResetProcessState();
  test::FakeDriver::Get().SetRecording(false);
  test::FakeDriver::Get().SetUpdateHook(&OnUpdate, nullptr);

  TUdpServer udp(0);
  TTcpServer tcp(&OnWifiClientAccepted, 0);
  udp.Start();
  tcp.Start();
  BareReceiver bare;
  auto frame = BuildFrame(BuildFramedMessage({0, 0, 0, 0, 0}));
  BareStreamReceiver bareStream(frame.size());
  while (!udp.ReceivingPort() || !tcp.ListeningPort())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));

  const int sender = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in toBare = Loopback(bare.port());
  const sockaddr_in toUdp = Loopback(udp.ReceivingPort());
  const int stream = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in toTcp = Loopback(tcp.ListeningPort());
  int one = 1;
  setsockopt(stream, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(stream, reinterpret_cast<const sockaddr*>(&toTcp), sizeof toTcp) != 0) Fail("connect");
  uint8_t greeting[2];
  if (recv(stream, greeting, 2, MSG_WAITALL) != 2) Fail("greeting");
  const int bareClient = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in toBareStream = Loopback(bareStream.port());
  setsockopt(bareClient, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(bareClient, reinterpret_cast<const sockaddr*>(&toBareStream), sizeof toBareStream) != 0)
    Fail("connect");

  std::vector<Path> paths = {{"bare recvfrom (floor)", {}, 0},
                             {"UDP datagram", {}, 0},
                             {"framed TCP message", {}, 0},
                             {"bare TCP recv (reference)", {}, 0}};
  constexpr size_t kPaths = 4;
  auto datagram = BuildControlDatagram({0, 16384, 32768, 0});
  // Interleaved, so that changes in the machine's load touch all paths alike.
  for (size_t i = 0; i < samples + samples / 10; ++i) {
    const bool warmUp = i < samples / 10;
    // The order rotates, so that no path always comes first after the pause.
    double us[kPaths];
    for (size_t k = 0; k < kPaths; ++k) {
      const size_t p = (i + k) % kPaths;
      us[p] = Sample([&] {
        if (p == 0)
          sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&toBare),
                 sizeof toBare);
        if (p == 1)
          sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&toUdp),
                 sizeof toUdp);
        if (p == 2) send(stream, frame.data(), frame.size(), MSG_NOSIGNAL);
        if (p == 3) send(bareClient, frame.data(), frame.size(), MSG_NOSIGNAL);
      });
    }
    for (size_t p = 0; p < kPaths; ++p) {
      if (warmUp) continue;
      if (us[p] < 0)
        ++paths[p].lost;
      else
        paths[p].micros.push_back(us[p]);
    }
    if (gapMicros > 0) std::this_thread::sleep_for(std::chrono::microseconds(gapMicros));
  }

  PrintPaths(paths, "latency from send to arrival", samples, cpu);
  std::printf("targets: p50/floor <= 1.20, p99/floor <= 1.50\n");

  if (rateSearch) {
    // The sender stands for another machine: off the receiver's CPU.
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    if (cpu >= 0 && cpus > 1) {
      cpu_set_t set;
      CPU_ZERO(&set);
      CPU_SET((cpu + 1) % cpus, &set);
      sched_setaffinity(0, sizeof set, &set);  // this thread only
    }
    std::printf("\ndatagram rate into the UDP receiver, 0.5 s per step, best of 3 tries\n");
    double best = 0;
    for (double rate : {1e4, 2e4, 3e4, 5e4, 7e4, 1e5, 1.5e5, 2e5, 3e5, 5e5}) {
      // A busy machine may hold the receiver off its CPU for a while; a
      // rate counts as sustained when one of three tries loses nothing.
      double delivered = 0;
      bool ok = false;
      for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
        double d = 0;
        ok = Lossless(sender, toUdp, rate, 0.5, &d);
        delivered = std::max(delivered, d);
      }
      std::printf("%9.0f /s: %6.2f %% delivered\n", rate, delivered * 100);
      if (!ok) break;
      best = rate;
    }
    std::printf("highest rate without loss: %.0f datagrams/s\n", best);
  }

  close(stream);
  close(bareClient);
  close(sender);
  test::FakeDriver::Get().SetUpdateHook(nullptr, nullptr);
  return 0;
}
