// Runs test code inside a network namespace of the test's own, so that
// nothing it sends can reach a real network.
#pragma once

#include <sched.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "link/UdpClient.h"
#include "link/winsock2.h"

namespace wendrix {

// The system's interface query and broadcast sends, for as long as it lives.
// Entries that are the system's already are not written: service threads
// of earlier tests, ended but never joined, read them without a lock.
class SystemNetworkCalls {
 public:
  SystemNetworkCalls() : saved_(Winsock2Entries), savedSockets_(BroadcastSockets) {
    if (!Winsock2Entries.library) {
      LoadWinsock2();  // replaces every entry a fake set
      restoreEntries_ = true;
    }
    if (std::memcmp(&BroadcastSockets, &kSystemBroadcastSockets, sizeof BroadcastSockets) != 0) {
      BroadcastSockets = kSystemBroadcastSockets;
      restoreSockets_ = true;
    }
  }
  ~SystemNetworkCalls() {
    if (restoreEntries_) Winsock2Entries = saved_;
    if (restoreSockets_) BroadcastSockets = savedSockets_;
  }
  SystemNetworkCalls(const SystemNetworkCalls&) = delete;
  SystemNetworkCalls& operator=(const SystemNetworkCalls&) = delete;

 private:
  Winsock2EntryPoints saved_;
  BroadcastSocketEntries savedSockets_;
  bool restoreEntries_ = false;
  bool restoreSockets_ = false;
};

// Runs `body` on a thread that lives in a new network namespace set up by
// `setup` (shell commands). Skips the test when no namespace can be made.
#define IN_PRIVATE_NETWORK(setup, ...)                                                        \
  do {                                                                                        \
    const NamespaceRun run = InPrivateNetwork(setup, __VA_ARGS__);                            \
    if (run == NamespaceRun::kNoNamespace) GTEST_SKIP() << "cannot make a network namespace"; \
    ASSERT_EQ(run, NamespaceRun::kRan) << "cannot set up its links";                          \
  } while (false)

enum class NamespaceRun { kRan, kNoNamespace, kSetupFailed };

inline NamespaceRun InPrivateNetwork(const std::string& setup, const std::function<void()>& body) {
  NamespaceRun outcome = NamespaceRun::kRan;
  std::thread worker([&] {
    if (::unshare(CLONE_NEWNET) != 0) {
      outcome = NamespaceRun::kNoNamespace;
      return;
    }
    // Children of this thread share its namespace.
    const std::string command = "set -e; ip link set lo up; " + setup;
    if (std::system(command.c_str()) != 0) {
      outcome = NamespaceRun::kSetupFailed;
      return;
    }
    body();
  });
  worker.join();
  return outcome;
}

}  // namespace wendrix
