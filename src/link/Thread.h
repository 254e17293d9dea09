// Thread base of the services: created suspended, started once, runs
// Execute on its own thread. A stop request is only a flag that Execute
// may test. FreeOnTerminate threads are detached and delete themselves
// when Execute returns; the others are joined by WaitFor or the destructor.
#pragma once

#include <atomic>
#include <thread>

namespace wendrix {

class TThread {
 public:
  // `name` names the thread for the system's tools; a literal, or null.
  explicit TThread(const char* name = nullptr) : name_(name) {}
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts Execute on a new thread; the object must be fully constructed.
  void Start();
  void Terminate() { terminated_.store(true, std::memory_order_relaxed); }
  bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }
  // Joins the thread; not for FreeOnTerminate threads.
  void WaitFor();
  // Set before Start.
  void SetFreeOnTerminate(bool value) { freeOnTerminate_ = value; }
  bool Finished() const { return finished_.load(std::memory_order_acquire); }

  // Makes `thread` free itself when it ends and starts it. When no thread
  // can be created the object is deleted and false returned.
  static bool StartFreeOnTerminate(TThread* thread);

 protected:
  virtual void Execute() = 0;

 private:
  void Run();

  const char* name_;
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  bool freeOnTerminate_ = false;
};

}  // namespace wendrix
