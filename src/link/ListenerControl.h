// What the Wi-Fi listeners need to be stoppable: the socket their thread
// body blocks on, a pause that a stop cuts short, and the stop itself.
// The program never stops a listener; tests and benchmarks do.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "link/Sockets.h"

namespace wendrix {

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

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  SocketHandle socket_ = kInvalidSocket;
  bool stopping_ = false;
};

}  // namespace wendrix
