#include "link/Thread.h"

namespace wendrix {

TThread::~TThread() {
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();
    else
      thread_.join();
  }
}

void TThread::Start() {
  thread_ = std::thread(&TThread::Run, this);
  if (freeOnTerminate_) thread_.detach();
}

void TThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TThread::Run() {
  Execute();
  if (freeOnTerminate_) {
    delete this;
    return;
  }
  finished_.store(true, std::memory_order_release);
}

}  // namespace wendrix
