#include "link/ListenerControl.h"

#include "link/SocketsExtra.h"

namespace wendrix {

SocketHandle ShowListenerState(std::atomic<ListenerState>& state, SocketHandle s) {
  const ListenerState now = s != kInvalidSocket                 ? ListenerState::kListening
                            : IsAddressInUse(LastSocketError()) ? ListenerState::kPortBusy
                                                                : ListenerState::kFailed;
  state.store(now, std::memory_order_relaxed);
  return s;
}

bool ListenerControl::Publish(SocketHandle s) {
  std::lock_guard lock(mutex_);
  if (stopping_) return false;
  socket_ = s;
  return true;
}

void ListenerControl::CloseSocket() {
  // Under the lock, so that a stop never shuts down a handle number that
  // has already been given to another socket.
  std::lock_guard lock(mutex_);
  if (socket_ != kInvalidSocket) wendrix::CloseSocket(socket_);
  socket_ = kInvalidSocket;
}

bool ListenerControl::Pause(std::chrono::milliseconds delay) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, delay, [this] { return stopping_; });
}

void ListenerControl::RequestStop() {
  std::lock_guard lock(mutex_);
  stopping_ = true;
  if (socket_ != kInvalidSocket) ShutdownSocket(socket_);
  wake_.notify_all();
}

void ListenerControl::StopThread(TThread& thread) {
  thread.Terminate();
  RequestStop();
  thread.WaitFor();
}

}  // namespace wendrix
