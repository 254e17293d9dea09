#include "joystick/Repaint.h"

#include <atomic>
#include <deque>
#include <mutex>

namespace wendrix {

namespace {
struct Hook {
  RepaintHookFn fn;
  void* context;
};
std::atomic<bool> gPending{false};
std::atomic<const Hook*> gHook{nullptr};
// Hooks are few and live to the end: a removed one is never freed, so a
// thread that loaded it just before removal still calls valid code.
std::mutex gInstallLock;
std::deque<Hook> gHooks;
}  // namespace

void InstallRepaintHook(RepaintHookFn fn, void* context) {
  std::lock_guard lock(gInstallLock);
  const Hook* hook = fn ? &gHooks.emplace_back(Hook{fn, context}) : nullptr;
  gHook.store(hook, std::memory_order_seq_cst);
  if (hook && gPending.load(std::memory_order_seq_cst)) hook->fn(hook->context);
}

// Sequentially consistent, here and in the installer, so that a request
// made while a hook is installed is seen by one of the two: either the
// installer sees the mark, or the request sees the hook. Likewise a hook
// that reads its own flag after setting the mark, and a window that clears
// that flag before taking the mark, never both miss each other.
void RequestRepaint() {
  if (gPending.exchange(true, std::memory_order_seq_cst)) return;
  if (const Hook* hook = gHook.load(std::memory_order_seq_cst)) hook->fn(hook->context);
}

bool TakeRepaintRequest() { return gPending.exchange(false, std::memory_order_seq_cst); }

}  // namespace wendrix
