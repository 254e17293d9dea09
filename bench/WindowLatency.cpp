// Latency of the UDP path while the window shows the stream: the window
// (supervisor, display, browser pane and page server, as the program makes
// them) runs in this process, the UDP receiver and a bare recvfrom loop
// (the floor) beside it, and every thread shares one CPU. Each datagram
// moves the steering and the pedals, so the window refreshes its bars at
// the screen's rate throughout, and the supervisor shows the connected page.
// Samples of the two paths alternate; the ratios of the receiver's p50 and
// p99 to the floor's say what the window's work on that CPU costs the
// receiver.
//
// Run it from the build's tests directory (beside the fake driver
// library), inside a private network namespace, on an X display or
// offscreen:
//   unshare -n -- sh -c 'ip link set lo up && ./bench_window_latency'
// Options: --samples N (per path, default 20000), --gap-us N (pause between
// samples, default 100), --cpu N (the CPU every thread runs on, default 0),
// --warm-up S (seconds of stream before sampling, default 3).
#include <QApplication>
#include <QMetaObject>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "FakeDriver.h"
#include "LatencySampling.h"
#include "joystick/ControlState.h"
#include "link/UdpServer.h"
#include "protocol/Protocol.h"
#include "ui/GraphicsSetup.h"
#include "ui/MainForm.h"

using namespace wendrix;
using namespace wendrix::bench;

namespace {

// The services are the benchmark's own.
void NoServices() {}

}  // namespace

int main(int argc, char** argv) {
  size_t samples = 20000;
  int gapMicros = 100;
  int cpu = 0;
  double warmUp = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--samples" && i + 1 < argc)
      samples = std::strtoul(argv[++i], nullptr, 10);
    else if (a == "--gap-us" && i + 1 < argc)
      gapMicros = std::atoi(argv[++i]);
    else if (a == "--cpu" && i + 1 < argc)
      cpu = std::atoi(argv[++i]);
    else if (a == "--warm-up" && i + 1 < argc)
      warmUp = std::atof(argv[++i]);
    else {
      std::fprintf(stderr, "usage: %s [--samples N] [--gap-us N] [--cpu N] [--warm-up S]\n", argv[0]);
      return 2;
    }
  }
  if (cpu >= 0) PinToCpu(cpu);
  if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

  test::ResetProcessState();
  test::FakeDriver::Get().SetRecording(false);
  test::FakeDriver::Get().SetUpdateHook(&OnUpdate, nullptr);

  PrepareGraphics();
  QApplication app(argc, argv);
  TUdpServer udp(0);
  udp.Start();
  BareReceiver bare;
  while (!udp.ReceivingPort()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  MainFormSetup setup;
  setup.startServices = &NoServices;
  TMainForm window(setup);
  window.show();

  std::vector<Path> paths = {{"bare recvfrom (floor)", {}, 0}, {"UDP datagram, window showing it", {}, 0}};
  std::thread phone([&] {
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in toBare = Loopback(bare.port());
    const sockaddr_in toUdp = Loopback(udp.ReceivingPort());
    // A sweep: every datagram moves both bars. Number 0 is always taken.
    uint16_t step = 0;
    auto datagram = [&] {
      ++step;
      return BuildControlDatagram(
          {0, static_cast<uint16_t>(step * 37 % 32769), static_cast<uint16_t>(step * 53 % 32769), 0});
    };
    auto send = [&](const sockaddr_in& to) {
      const auto d = datagram();
      sendto(sender, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    };
    // The connect settles: the supervisor switches to the connected page.
    for (const auto end = Clock::now() + std::chrono::duration<double>(warmUp); Clock::now() < end;) {
      Sample([&] { send(toUdp); });
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (size_t i = 0; i < samples; ++i) {
      double us[2];
      for (size_t k = 0; k < 2; ++k) {
        const size_t p = (i + k) % 2;
        us[p] = Sample([&] { send(p == 0 ? toBare : toUdp); });
      }
      for (size_t p = 0; p < 2; ++p) {
        if (us[p] < 0)
          ++paths[p].lost;
        else
          paths[p].micros.push_back(us[p]);
      }
      if (gapMicros > 0) std::this_thread::sleep_for(std::chrono::microseconds(gapMicros));
    }
    close(sender);
    QMetaObject::invokeMethod(&app, &QApplication::quit, Qt::QueuedConnection);
  });
  app.exec();
  phone.join();

  PrintPaths(paths, "latency from send to arrival while the window shows the stream", samples, cpu);
  std::printf("targets: p50/floor <= 1.05, p99/floor <= 1.50\n");
  test::FakeDriver::Get().SetUpdateHook(nullptr, nullptr);
  std::fflush(nullptr);
  // The page server and the receiver run on; end here, as the program does.
  std::_Exit(0);
}
