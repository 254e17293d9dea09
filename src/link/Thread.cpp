#include "link/Thread.h"

#include <system_error>

#include "link/ThreadName.h"

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
  // A thread that frees itself may be gone before std::thread's constructor
  // returns here, so its handle is never stored in the object.
  if (freeOnTerminate_) {
    std::thread(&TThread::Run, this).detach();
    return;
  }
  thread_ = std::thread(&TThread::Run, this);
}

bool TThread::StartFreeOnTerminate(TThread* thread) {
  thread->SetFreeOnTerminate(true);
  try {
    thread->Start();
  } catch (const std::system_error&) {
    delete thread;
    return false;
  }
  return true;
}

void TThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TThread::Run() {
  if (name_) NameThisThread(name_);
  Execute();
  if (freeOnTerminate_) {
    delete this;
    return;
  }
  finished_.store(true, std::memory_order_release);
}

}  // namespace wendrix
