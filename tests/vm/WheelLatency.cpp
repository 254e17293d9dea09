// Latency to what a game reads: from a control datagram sent on loopback
// to the event that a reader blocked in read() on the wheel's event node
// receives, timed by the event's own timestamp; beside a bare recvfrom
// loop in the same process, the floor, the two measured in turn. The
// receiver is the program's core with the real driver library beside this
// program, as the receiver tests run it. Runs in the guest of the
// real-kernel stage (tests/vm/games); under emulation only the ratio
// means anything.
//   wheel_latency_bench [--samples N] [--gap-us N]
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/input.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "LinkTestSupport.h"
#include "WheelEventNode.h"
#include "WifiListening.h"
#include "app/Services.h"
#include "app/Startup.h"
#include "protocol/Protocol.h"

using namespace wendrix;

// The services live until the process ends, as in the program.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the sanitizer runtime looks for this name
extern "C" const char* __lsan_default_suppressions() { return "leak:StartServices\n"; }

namespace {

int64_t Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "wheel_latency_bench: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

// The time of the latest arrival on the path being measured, and a count.
struct Arrivals {
  std::atomic<int64_t> at{0};
  std::atomic<uint64_t> count{0};

  void Arrived(int64_t when) {
    at.store(when, std::memory_order_relaxed);
    count.fetch_add(1, std::memory_order_release);
  }
};

// A game's reader: blocked in read() on the event node; each frame's
// SYN_REPORT carries the time the kernel stamped on the frame.
void ReadWheel(int fd, Arrivals& arrivals) {
  input_event events[16];
  for (;;) {
    const ssize_t n = read(fd, events, sizeof events);
    if (n <= 0) return;
    for (size_t i = 0; i < static_cast<size_t>(n) / sizeof events[0]; ++i) {
      const input_event& e = events[i];
      if (e.type == EV_SYN && e.code == SYN_REPORT)
        arrivals.Arrived(int64_t{e.input_event_sec} * 1'000'000'000 + int64_t{e.input_event_usec} * 1000);
    }
  }
}

// The floor: one recvfrom per datagram, timed when it returns.
void ReceiveBare(int fd, Arrivals& arrivals) {
  uint8_t buffer[100];
  while (recvfrom(fd, buffer, sizeof buffer, 0, nullptr, nullptr) > 0) arrivals.Arrived(Now());
}

// Sends one datagram and waits for its arrival: the latency in µs, or a
// negative value when nothing arrived within two seconds.
double Sample(int sender, uint16_t port, const std::array<uint8_t, kDatagramSize>& datagram,
              Arrivals& arrivals) {
  const uint64_t before = arrivals.count.load(std::memory_order_acquire);
  const int64_t sent = Now();
  test::SendDatagramTo(sender, port, datagram);
  while (arrivals.count.load(std::memory_order_acquire) == before) {
    if (Now() - sent > 2'000'000'000) return -1;
    std::this_thread::yield();
  }
  return static_cast<double>(arrivals.at.load(std::memory_order_relaxed) - sent) / 1000.0;
}

struct Figures {
  double median, p90, p99;
};

Figures Summarise(std::vector<double>& micros) {
  std::sort(micros.begin(), micros.end());
  const auto at = [&](double q) {
    return micros[static_cast<size_t>(q * static_cast<double>(micros.size() - 1))];
  };
  return {at(0.5), at(0.9), at(0.99)};
}

class Bench final : public Shell {
 public:
  Bench(size_t samples, int gapMicros) : samples_(samples), gapMicros_(gapMicros) {}
  int result = 1;

  void ShowMissingDriverMessage(const std::string& text) override {
    std::fprintf(stderr, "wheel_latency_bench: the driver library is not usable:\n%s\n", text.c_str());
  }

  void RunMainWindow() override {
    StartServices();
    vjoy::EventNode wheel;
    if (!wheel.Open() || !test::WifiListening()) Fail("the receiver did not start");
    const int node = open(("/dev/input/" + wheel.Entry()).c_str(), O_RDONLY | O_CLOEXEC);
    int clock = CLOCK_MONOTONIC;
    if (node < 0 || ioctl(node, EVIOCSCLOCKID, &clock) != 0) Fail("the event node");
    Arrivals wheelArrivals, bareArrivals;
    std::thread reader(ReadWheel, node, std::ref(wheelArrivals));
    reader.detach();  // it reads until the process ends

    const int bare = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (bind(bare, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(bare, reinterpret_cast<sockaddr*>(&a), &length) != 0)
      Fail("the bare receiver");
    std::thread floor(ReceiveBare, bare, std::ref(bareArrivals));
    const int sender = test::OpenUdpClient();

    std::vector<double> toWheel, toBare;
    size_t lost = 0;
    for (size_t i = 0; i < samples_; ++i) {
      // Each datagram moves the steering, so that every one makes a frame.
      const auto steering = static_cast<uint16_t>(i % 2 ? 12000 : 20000);
      const auto datagram = BuildControlDatagram({static_cast<uint16_t>(i + 1), steering, 32768, 0});
      const double w = Sample(sender, kLinkPort, datagram, wheelArrivals);
      const double b = Sample(sender, ntohs(a.sin_port), datagram, bareArrivals);
      if (w < 0 || b < 0) ++lost;
      if (w >= 0) toWheel.push_back(w);
      if (b >= 0) toBare.push_back(b);
      std::this_thread::sleep_for(std::chrono::microseconds(gapMicros_));
    }
    shutdown(bare, SHUT_RDWR);
    floor.join();
    close(bare);
    close(sender);
    if (toWheel.empty() || toBare.empty()) Fail("no samples");

    const Figures w = Summarise(toWheel), b = Summarise(toBare);
    std::printf(
        "wendrix-vm: latency, %zu samples per path, in µs: datagram to the wheel's event median %.1f p90 "
        "%.1f "
        "p99 %.1f; bare recvfrom median %.1f p90 %.1f p99 %.1f\n",
        samples_, w.median, w.p90, w.p99, b.median, b.p90, b.p99);
    std::printf(
        "wendrix-vm: latency ratio (wheel / bare recvfrom): median %.2f, p90 %.2f; %zu samples lost\n",
        w.median / b.median, w.p90 / b.p90, lost);
    result = lost == 0 ? 0 : 1;
  }

 private:
  size_t samples_;
  int gapMicros_;
};

}  // namespace

int main(int argc, char** argv) {
  size_t samples = 2000;
  int gap = 500;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--samples") == 0)
      samples = std::max(1, std::atoi(argv[i + 1]));
    else if (std::strcmp(argv[i], "--gap-us") == 0)
      gap = std::max(0, std::atoi(argv[i + 1]));
  }
  Bench bench(samples, gap);
  RunProcess(bench);
  return bench.result;
}
