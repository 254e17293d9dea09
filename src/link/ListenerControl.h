// What the Wi-Fi listeners need to be stoppable: the socket their thread
// body blocks on, a pause that a stop cuts short, and the stop itself.
// The program never stops a listener; tests and benchmarks do.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "joystick/StatusRecord.h"
#include "link/ListenerTimings.h"
#include "link/Sockets.h"
#include "link/Thread.h"

namespace wendrix {

// Shows in `state` what opening the listening socket `s` came to, the
// error still being the open's; returns `s`.
SocketHandle ShowListenerState(std::atomic<ListenerState>& state, SocketHandle s);

class ListenerControl {
 public:
  // Thread body: makes `s` the socket a stop wakes. False when a stop was
  // already requested; the caller then closes `s` itself and ends.
  bool Publish(SocketHandle s);
  // Thread body: closes the published socket.
  void CloseSocket();
  // Thread body: waits for `delay`; false when a stop ended the wait.
  bool Pause(std::chrono::milliseconds delay);
  // Any thread: ends any pause and wakes a call blocked on the socket.
  void RequestStop();
  // Any other thread: requests the stop of `thread`, whose body this
  // controls, and joins it.
  void StopThread(TThread& thread);

  // Thread body of a listener: opens a bound socket with `open` (trying
  // again after kBindRetryPause while it fails), serves it with `serve`
  // until that returns, closes it and starts over, until a stop. The bound
  // port is shown in `boundPort` while the socket is served.
  template <typename Open, typename Serve>
  void ServeUntilStopped(const TThread& thread, std::atomic<uint16_t>& boundPort, Open open, Serve serve) {
    while (!thread.Terminated()) {
      const SocketHandle s = open();
      if (s == kInvalidSocket) {
        Pause(kBindRetryPause);
        continue;
      }
      if (!Publish(s)) {
        wendrix::CloseSocket(s);
        return;
      }
      boundPort.store(LocalPort(s), std::memory_order_release);
      serve(s);
      boundPort.store(0, std::memory_order_release);
      CloseSocket();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  SocketHandle socket_ = kInvalidSocket;
  bool stopping_ = false;
};

}  // namespace wendrix
