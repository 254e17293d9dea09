// padsim: plays the phone. Sends control datagrams or a control stream to a
// Wendrix receiver, or prints the discovery announcements it hears.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/Protocol.h"

using namespace wendrix;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kUsage = R"(usage:
  padsim udp HOST [OPTIONS] [RECORD...]
  padsim tcp HOST --framed|--legacy [OPTIONS] [RECORD...]
  padsim listen [--port P] [--seconds S] [--count N]

udp      sends control datagrams (steering and pedals; UDP carries no buttons)
tcp      opens a stream, prints the greeting and sends framed messages or
         legacy records
listen   prints every discovery announcement received, with its sender,
         until interrupted or for --seconds S or until --count N were heard

OPTIONS
  --port P      port (default 41503)
  --rate HZ     messages per second (default 50)
  --seconds S   send the scripted sweep for S seconds (default 5)
  --count N     send N messages of the sweep instead
  --sequence N  sequence number of the first message (default: taken from
                the clock, so that a new run is newer than the last one)

Without RECORDs padsim sends a sweep: steering from full left to full right
and back every 4 s, the throttle pressed in the first half of every 3 s,
gear up tapped every 2 s and gear down a second later.

RECORD  STEERING,PEDALS[,BUTTONS], sent in order at the rate instead of the
        sweep. Driver units: steering 0 to 32768 (16384 is the centre),
        pedals 32768 released to 0 fully pressed; BUTTONS a bit mask
        (1 gear up, 2 gear down, 4 to 128 the others; framed mode carries
        only 1 and 2), decimal or 0x hex.
)";

struct Control {
  uint16_t steering = 16384;
  uint16_t pedals = 32768;
  uint8_t buttons = 0;
};

struct Options {
  std::string mode;
  std::string host;
  bool framed = false;
  bool legacy = false;
  uint16_t port = kLinkPort;
  double rate = 50;
  double seconds = 5;
  std::optional<long> count;
  std::optional<uint16_t> sequence;
  std::vector<Control> records;
};

[[noreturn]] void Fail(const std::string& message, int code = 1) {
  std::fprintf(stderr, "padsim: %s\n", message.c_str());
  std::exit(code);
}

[[noreturn]] void BadArguments(const std::string& message) {
  std::fprintf(stderr, "padsim: %s\n\n%s", message.c_str(), kUsage);
  std::exit(2);
}

double Number(const char* option, const char* text, double low, double high) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (errno || end == text || *end || !(v >= low && v <= high))
    BadArguments(std::string("bad value for ") + option + ": '" + text + "'");
  return v;
}

long Integer(const char* what, const std::string& text, long low, long high) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 0);
  if (errno || end == text.c_str() || *end || v < low || v > high)
    BadArguments(std::string("bad ") + what + ": '" + text + "'");
  return v;
}

Control ParseRecord(const std::string& text) {
  std::vector<std::string> fields;
  size_t from = 0;
  for (size_t comma; (comma = text.find(',', from)) != std::string::npos; from = comma + 1)
    fields.push_back(text.substr(from, comma - from));
  fields.push_back(text.substr(from));
  if (fields.size() < 2 || fields.size() > 3)
    BadArguments("a record is STEERING,PEDALS[,BUTTONS]: '" + text + "'");
  Control c;
  c.steering = static_cast<uint16_t>(Integer("steering", fields[0], 0, 65535));
  c.pedals = static_cast<uint16_t>(Integer("pedals", fields[1], 0, 65535));
  if (fields.size() == 3) c.buttons = static_cast<uint8_t>(Integer("buttons", fields[2], 0, 255));
  return c;
}

Options Parse(int argc, char** argv) {
  if (argc < 2) BadArguments("no command given");
  Options o;
  o.mode = argv[1];
  if (o.mode == "-h" || o.mode == "--help") {
    std::fputs(kUsage, stdout);
    std::exit(0);
  }
  if (o.mode != "udp" && o.mode != "tcp" && o.mode != "listen")
    BadArguments("unknown command '" + o.mode + "'");
  int i = 2;
  if (o.mode == "listen") o.seconds = 0;  // until interrupted
  if (o.mode != "listen") {
    if (argc < 3 || argv[2][0] == '-') BadArguments(o.mode + " needs a HOST");
    o.host = argv[2];
    i = 3;
  }
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) BadArguments(a + " needs a value");
      return argv[++i];
    };
    if (a == "--framed" && o.mode == "tcp") {
      o.framed = true;
    } else if (a == "--legacy" && o.mode == "tcp") {
      o.legacy = true;
    } else if (a == "--port") {
      o.port = static_cast<uint16_t>(Number("--port", value(), 1, 65535));
    } else if (a == "--rate" && o.mode != "listen") {
      o.rate = Number("--rate", value(), 0.1, 1e6);
    } else if (a == "--seconds") {
      o.seconds = Number("--seconds", value(), 0, 1e6);
    } else if (a == "--sequence" && o.mode != "listen") {
      o.sequence = static_cast<uint16_t>(Number("--sequence", value(), 0, 65535));
    } else if (a == "--count") {
      o.count = static_cast<long>(Number("--count", value(), 0, 1e12));
    } else if (!a.empty() && a[0] != '-' && o.mode != "listen") {
      o.records.push_back(ParseRecord(a));
    } else {
      BadArguments("unknown option '" + a + "' for " + o.mode);
    }
  }
  if (o.mode == "tcp" && o.framed == o.legacy) BadArguments("tcp needs exactly one of --framed and --legacy");
  return o;
}

sockaddr_in Resolve(const std::string& host, uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (int e = getaddrinfo(host.c_str(), nullptr, &hints, &found); e != 0)
    Fail("cannot resolve '" + host + "': " + gai_strerror(e));
  sockaddr_in a{};
  std::memcpy(&a, found->ai_addr, sizeof a);
  a.sin_port = htons(port);
  freeaddrinfo(found);
  return a;
}

std::string Describe(const sockaddr_in& a) {
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

// The scripted sweep at time t seconds.
Control Sweep(double t) {
  Control c;
  const double steer = std::fmod(t, 4.0) / 2.0;  // 0..2
  c.steering = static_cast<uint16_t>(std::lround((steer <= 1 ? steer : 2 - steer) * 32768));
  const double pedal = std::fmod(t, 3.0) / 1.5;  // pressed while below 1
  c.pedals = static_cast<uint16_t>(pedal < 1 ? std::lround(32768 * (1 - std::sin(pedal * M_PI))) : 32768);
  const double tap = std::fmod(t, 2.0);
  if (tap < 0.1) c.buttons |= 1;
  if (tap >= 1.0 && tap < 1.1) c.buttons |= 2;
  return c;
}

// The receiver takes a record only when its number is newer than the last
// one taken, and over UDP that memory outlives a run. A start taken from a
// clock that advances 100 per second keeps runs at up to 100 messages per
// second newer than the ones before; kept within 1 to 32767, it is also
// newer than the 0 a fresh receiver or a new stream starts from.
uint16_t FirstSequence(const Options& o) {
  if (o.sequence) return *o.sequence;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return static_cast<uint16_t>(1 + (ms.count() / 10) % 32767);
}

void SendAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
    if (n <= 0)
      Fail(std::string("the receiver closed the connection: ") +
           (n < 0 ? std::strerror(errno) : "end of stream"));
    data += n;
    length -= static_cast<size_t>(n);
  }
}

// Calls send(control, sequence) at the rate, for the records or the sweep.
template <typename Send>
long Play(const Options& o, Send send) {
  const long total = !o.records.empty() ? static_cast<long>(o.records.size())
                     : o.count          ? *o.count
                                        : std::lround(o.seconds * o.rate);
  const auto period = std::chrono::duration<double>(1.0 / o.rate);
  const auto start = Clock::now();
  uint16_t sequence = FirstSequence(o);
  for (long i = 0; i < total; ++i, ++sequence) {
    std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(period * i));
    send(o.records.empty() ? Sweep(static_cast<double>(i) / o.rate) : o.records[static_cast<size_t>(i)],
         sequence);
  }
  return total;
}

int RunUdp(const Options& o) {
  const sockaddr_in to = Resolve(o.host, o.port);
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail(std::string("socket: ") + std::strerror(errno));
  const long sent = Play(o, [&](const Control& c, uint16_t sequence) {
    const auto d = BuildControlDatagram({sequence, c.steering, c.pedals, c.buttons});
    if (sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
      Fail("cannot send to " + Describe(to) + ": " + std::strerror(errno));
  });
  std::printf("sent %ld datagrams to %s\n", sent, Describe(to).c_str());
  close(fd);
  return 0;
}

int RunTcp(const Options& o) {
  const sockaddr_in to = Resolve(o.host, o.port);
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail(std::string("socket: ") + std::strerror(errno));
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
    Fail("cannot connect to " + Describe(to) + ": " + std::strerror(errno));
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  uint8_t greeting[2];
  size_t got = 0;
  while (got < sizeof greeting) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 3000) <= 0) Fail("no greeting from " + Describe(to) + " within 3 s");
    ssize_t n = recv(fd, greeting + got, sizeof greeting - got, 0);
    if (n <= 0) Fail("the receiver closed the connection before its greeting");
    got += static_cast<size_t>(n);
  }
  std::printf("greeting from %s: %02x %02x%s\n", Describe(to).c_str(), greeting[0], greeting[1],
              greeting[0] == kGreeting[0] && greeting[1] == kGreeting[1] ? "" : " (expected 00 02)");

  if (o.legacy) {
    const auto opening = BuildLegacyOpening();
    SendAll(fd, opening.data(), opening.size());
  }
  const long sent = Play(o, [&](const Control& c, uint16_t sequence) {
    if (o.legacy) {
      const auto r = BuildLegacyRecord({sequence, c.steering, c.pedals, c.buttons});
      SendAll(fd, r.data(), r.size());
    } else {
      const FramedControl f{c.steering - kFramedAxisCentre, c.pedals - kFramedAxisCentre, sequence,
                            static_cast<uint8_t>(c.buttons & 1), static_cast<uint8_t>((c.buttons >> 1) & 1)};
      const auto frame = BuildFrame(BuildFramedMessage(f));
      SendAll(fd, frame.data(), frame.size());
    }
  });
  std::printf("sent %ld %s to %s\n", sent, o.legacy ? "legacy records" : "framed messages",
              Describe(to).c_str());
  close(fd);
  return 0;
}

int RunListen(const Options& o) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail(std::string("socket: ") + std::strerror(errno));
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(o.port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0)
    Fail("cannot listen on UDP port " + std::to_string(o.port) + ": " + std::strerror(errno) +
         (errno == EADDRINUSE ? " (is Wendrix running here? Listen on another machine on the network)" : ""));
  std::printf("listening for announcements on UDP port %u\n", o.port);
  std::fflush(stdout);

  const auto end =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  const bool timed = o.seconds > 0;
  long heard = 0;
  while (!(o.count && heard >= *o.count) && !(timed && Clock::now() >= end)) {
    int wait = 1000;
    if (timed)
      wait = std::min(wait,
                      static_cast<int>(
                          std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count()));
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, std::max(wait, 0)) <= 0) continue;
    uint8_t buffer[1500];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) continue;
    if (n == static_cast<ssize_t>(kAnnouncementSize) && IsAppIdentifier(buffer)) {
      ++heard;
      const bool exact = std::equal(kAnnouncement.begin(), kAnnouncement.end(), buffer);
      std::printf("announcement from %s: port %u%s\n", Describe(from).c_str(), ReadBigEndian32(buffer + 14),
                  exact ? "" : " (unexpected bytes)");
    } else {
      std::printf("other datagram from %s: %zd bytes\n", Describe(from).c_str(), n);
    }
    std::fflush(stdout);
  }
  std::printf("%ld announcements heard\n", heard);
  close(fd);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  if (o.mode == "udp") return RunUdp(o);
  if (o.mode == "tcp") return RunTcp(o);
  return RunListen(o);
}
