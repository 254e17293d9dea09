#include "status/StatusServer.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include "link/SocketsExtra.h"
#include "link/ThreadName.h"
#include "status/HttpRequest.h"
#include "status/StatusPages.h"

namespace wendrix {

namespace {

using Clock = std::chrono::steady_clock;

// Without a waker, a quiet server looks at its stop flag and feed this often.
constexpr int kRestMsWithoutWaker = 200;
// After running out of descriptors, accepting waits this long.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

struct Connection {
  SocketHandle socket;
  Clock::time_point deadline;
  std::string received;
  std::string answer;
  size_t sent = 0;
  bool answering = false;
  // A live part held back until it differs from what the page shows.
  std::optional<LiveWait> wait;
  Clock::time_point recheck;
  Clock::time_point holdUntil;
};

// How long the system facts (host name, radios, firewall) are taken as
// they are: finding the firewall reads every process's name.
constexpr auto kFactsLifetime = std::chrono::seconds(5);

// Live parts from the process's status record.
class RecordSource final : public LiveSource {
 public:
  std::string Render(LivePart part) override {
    const Clock::time_point now = Clock::now();
    if (!facts_ || now - factsTaken_ >= kFactsLifetime) {
      facts_ = ReadSystemFacts({}, &memory_);
      factsTaken_ = now;
    }
    const StatusSnapshot s = TakeSnapshot(*facts_, wifiRate_, bluetoothRate_);
    return part == LivePart::kConnected ? RenderConnectedLive(s) : RenderWaitingLive(s);
  }

 private:
  std::optional<SystemFacts> facts_;
  FactsMemory memory_;
  Clock::time_point factsTaken_;
  MessageRate wifiRate_;
  MessageRate bluetoothRate_;
};

// "/" and 128 random bits in hex. The standard library's device is the
// system's own generator on both platforms (getrandom, rand_s).
// Empty when the system has no generator: the server then does not start.
std::string NewRoot() {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string root = "/";
  try {
    std::random_device random;
    for (int i = 0; i < 4; ++i) {
      uint32_t bits = random();
      for (int j = 0; j < 8; ++j, bits >>= 4) root += kDigits[bits & 15];
    }
  } catch (const std::exception&) {
    return {};
  }
  return root;
}

}  // namespace

StatusServer::StatusServer(StatusServerLimits limits, LiveSource* live)
    : limits_(limits), live_(live), root_(NewRoot()) {}

StatusServer::~StatusServer() {
  Stop();
  if (waker_ != kInvalidSocket) CloseSocket(waker_);
}

bool StatusServer::Start(uint16_t port) {
  if (root_.empty()) return false;
  listening_ = OpenLoopbackListener(port, 64);
  if (listening_ == kInvalidSocket) return false;
  port_ = LocalPort(listening_);
  if (waker_ == kInvalidSocket) waker_ = OpenLoopbackWaker();
  thread_ = std::thread([this] {
    NameThisThread("page-server");
    Run();
  });
  return true;
}

std::string StatusServer::BaseAddress() const { return "http://127.0.0.1:" + std::to_string(port_) + root_; }

void StatusServer::Stop() {
  stopping_.store(true, std::memory_order_relaxed);
  Wake();
  if (thread_.joinable()) thread_.join();
  if (listening_ != kInvalidSocket) CloseSocket(listening_);
  listening_ = kInvalidSocket;
}

void StatusServer::Wake() {
  const char byte = 0;
  if (waker_ != kInvalidSocket) SendNow(waker_, &byte, 1);
}

uint64_t StatusServer::FeedLive(std::optional<LivePart> part, LiveFeed changed) {
  uint64_t number = 0;
  {
    std::lock_guard lock(feedLock_);
    feedPart_ = part;
    feed_ = part ? std::move(changed) : LiveFeed();
    number = ++feedNumber_;
  }
  Wake();
  return number;
}

void StatusServer::Run() {
  RecordSource recordSource;
  LiveSource& live = live_ ? *live_ : recordSource;
  std::vector<std::unique_ptr<Connection>> connections;
  std::vector<SocketWait> waits;
  Clock::time_point acceptAgain{};

  auto drop = [&](size_t index, bool counted) {
    CloseSocket(connections[index]->socket);
    connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(index));
    if (counted) dropped_.fetch_add(1, std::memory_order_relaxed);
  };

  const int restMs = waker_ != kInvalidSocket
                         ? static_cast<int>(std::min<long long>(limits_.rest.count(), INT_MAX))
                         : kRestMsWithoutWaker;
  // The live feed as last served here.
  uint64_t feedServed = 0;
  std::string feedTag;
  Clock::time_point feedNext{};

  while (!stopping_.load(std::memory_order_relaxed)) {
    const Clock::time_point now = Clock::now();
    std::optional<LivePart> feedPart;
    {
      std::lock_guard lock(feedLock_);
      if (feedNumber_ != feedServed) {
        feedServed = feedNumber_;
        feedTag.clear();
        feedNext = now;
      }
      feedPart = feedPart_;
    }
    const bool feeding = feedPart.has_value();
    if (feeding && now >= feedNext) {
      // Rendered unlocked: naming a Bluetooth phone may take a moment.
      const std::string html = live.Render(*feedPart);
      if (std::string tag = LiveTag(html); tag != feedTag) {
        // Held while the feed runs, so that a feed replaced is never called again.
        std::lock_guard lock(feedLock_);
        if (feedNumber_ == feedServed) {
          feed_(feedServed, html);
          feedTag = std::move(tag);
        }
      }
      feedNext = now + limits_.liveRecheck;
    }
    // Connections past their deadline go first.
    for (size_t i = connections.size(); i-- > 0;)
      if (connections[i]->deadline <= now) drop(i, true);

    int timeoutMs = restMs;
    auto wakeBy = [&](Clock::time_point when) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
      timeoutMs = std::min<int>(timeoutMs, static_cast<int>(std::max<long long>(left, 0)));
    };
    if (feeding) wakeBy(feedNext);
    for (const auto& c : connections) wakeBy(c->wait ? std::min(c->deadline, c->recheck) : c->deadline);
    const bool accepting = now >= acceptAgain;
    waits.clear();
    waits.push_back({listening_, accepting, false});
    for (const auto& c : connections) waits.push_back({c->socket, !c->answering, c->answering});
    if (waker_ != kInvalidSocket) waits.push_back({waker_, true, false});
    if (!accepting) timeoutMs = std::min<int>(timeoutMs, static_cast<int>(kAcceptPause.count()));
    if (WaitForSockets(waits.data(), waits.size(), timeoutMs) < 0) continue;
    const Clock::time_point woken = Clock::now();
    if (waker_ != kInvalidSocket && waits.back().readable) {
      char bytes[64];
      while (ReceiveNow(waker_, bytes, sizeof bytes) > 0) {
      }
    }

    // Serve the waiting connections, from the last so that indices hold.
    for (size_t i = connections.size(); i-- > 0;) {
      Connection& c = *connections[i];
      const SocketWait& w = waits[i + 1];
      if (!c.answering && w.readable) {
        char buffer[1024];
        const long n = ReceiveNow(c.socket, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && !IsWouldBlock(LastSocketError()))) {
          drop(i, false);
          continue;
        }
        if (n < 0 || c.wait) continue;  // a held request's client has nothing more to say
        c.received.append(buffer, static_cast<size_t>(n));
        const HttpRequest request = ParseHttpRequest(c.received);
        if (request.status == 0) continue;
        if (std::optional<LiveWait> wait = WaitingLiveRequest(request, port_, root_)) {
          std::string html = live.Render(wait->part);
          if (LiveTag(html) == wait->since) {
            c.wait = std::move(wait);
            c.recheck = woken + limits_.liveRecheck;
            c.holdUntil = woken + limits_.liveHold;
            c.deadline = c.holdUntil + limits_.deadline;
          } else {
            c.answer = LiveAnswer(html, true);
          }
        } else {
          c.answer = AnswerRequest(request, port_, root_, live);
        }
        c.answering = !c.wait;
        c.received.clear();
        c.received.shrink_to_fit();
      }
      if (c.wait && woken >= c.recheck) {
        std::string html = live.Render(c.wait->part);
        if (woken >= c.holdUntil || LiveTag(html) != c.wait->since) {
          c.answer = LiveAnswer(html, true);
          c.answering = true;
          c.wait.reset();
        } else {
          c.recheck = woken + limits_.liveRecheck;
        }
      }
      if (c.answering && (w.writable || c.sent == 0)) {
        const long n = SendNow(c.socket, c.answer.data() + c.sent, c.answer.size() - c.sent);
        if (n < 0 && !IsWouldBlock(LastSocketError())) {
          drop(i, false);
          continue;
        }
        if (n > 0) c.sent += static_cast<size_t>(n);
        if (c.sent == c.answer.size()) {
          ShutdownSocket(c.socket);
          drop(i, false);
        }
      }
    }

    if (!accepting || !waits[0].readable) continue;
    // Everything that is waiting; the oldest connections make room.
    for (;;) {
      const SocketHandle s = AcceptNonBlocking(listening_);
      if (s == kInvalidSocket) {
        if (IsResourceShortage(LastSocketError())) {
          if (!connections.empty()) drop(0, true);
          acceptAgain = Clock::now() + kAcceptPause;
        }
        break;
      }
      if (connections.size() >= limits_.connections) drop(0, true);
      auto c = std::make_unique<Connection>();
      c->socket = s;
      c->deadline = Clock::now() + limits_.deadline;
      connections.push_back(std::move(c));
    }
  }
  for (size_t i = connections.size(); i-- > 0;) drop(i, false);
}

}  // namespace wendrix
