// The local page server: HTTP on 127.0.0.1 only, one thread polling every
// connection. Each connection gets one answer and is closed; a page's
// request for its live part may wait there until the part changes, so that
// a page at rest costs nothing. A connection
// that has not sent its request and taken its answer by its deadline is
// dropped, and when all places are taken the oldest connection makes room,
// so slow or silent clients cannot keep the window's requests out.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "link/Sockets.h"
#include "status/StatusPages.h"

namespace wendrix {

struct StatusServerLimits {
  size_t connections = 32;
  std::chrono::milliseconds deadline{3000};  // from accept to the last byte of the answer
  // A live part asked for with the tag the page has is answered when it
  // changes, looked at this often, or at the latest after liveHold; the
  // deadline then starts from there.
  std::chrono::milliseconds liveRecheck{1000};
  std::chrono::milliseconds liveHold{20000};
  // How long a server with nothing due sleeps at most; a stop or a new
  // feed wakes it before.
  std::chrono::milliseconds rest{10000};
};

class StatusServer {
 public:
  // `live` renders the live parts; null: from the process's status record.
  explicit StatusServer(StatusServerLimits limits = {}, LiveSource* live = nullptr);
  ~StatusServer();
  StatusServer(const StatusServer&) = delete;
  StatusServer& operator=(const StatusServer&) = delete;

  // Listens on 127.0.0.1:port (0: the system picks) and starts serving;
  // false when the socket cannot be made.
  bool Start(uint16_t port);
  uint16_t Port() const { return port_; }
  // The path every page lies under: "/" and a secret drawn for this server
  // alone, so that of all the programs that share loopback only those that
  // were handed an address reach the pages. Anything else is not found.
  const std::string& Root() const { return root_; }
  // "http://127.0.0.1:<port>/<secret>"
  std::string BaseAddress() const;
  // Ends the thread and closes every socket; the program never stops it.
  void Stop();

  // Hands one page's live part to the window without any request: every
  // liveRecheck the part is rendered on the server's thread and, when it
  // differs from the last one handed on, passed to `changed` with this
  // call's number, which the call returns. The first rendering after a
  // call is always handed on. No part stops it; once this returns, the
  // last feed is not called any more.
  using LiveFeed = std::function<void(uint64_t feed, const std::string& html)>;
  uint64_t FeedLive(std::optional<LivePart> part, LiveFeed changed);

  // Connections dropped at their deadline or to make room, for tests.
  uint64_t DroppedConnections() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  void Run();
  void Wake();

  StatusServerLimits limits_;
  LiveSource* live_;
  const std::string root_;
  SocketHandle listening_ = kInvalidSocket;
  // Wakes the server's thread for a stop or a new feed; opened before the
  // thread starts and closed with the server, so that any thread may send
  // on it without a lock.
  SocketHandle waker_ = kInvalidSocket;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<uint64_t> dropped_{0};
  // The live feed, set on any thread and served on the server's.
  std::mutex feedLock_;
  std::optional<LivePart> feedPart_;
  LiveFeed feed_;
  uint64_t feedNumber_ = 0;
  std::thread thread_;
};

}  // namespace wendrix
