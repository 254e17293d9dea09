// Timings and sizes of the Wi-Fi listeners.
#pragma once

#include <chrono>

namespace wendrix {

constexpr int kListenBacklog = 10;

// While the port is held by another program, binding is retried this often.
constexpr std::chrono::milliseconds kBindRetryPause{1000};
// After a failure for want of descriptors or memory.
constexpr std::chrono::milliseconds kResourceRetryPause{100};

// A phone that vanishes without closing its stream is noticed after about
// idle + interval * probes seconds, and its session ends.
constexpr int kKeepAliveIdleSeconds = 10;
constexpr int kKeepAliveIntervalSeconds = 5;
constexpr int kKeepAliveProbes = 3;

}  // namespace wendrix
