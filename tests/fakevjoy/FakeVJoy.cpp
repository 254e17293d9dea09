#include "FakeVJoy.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "joystick/VJoyApi.h"

// FAKE_EXPORT (export from the shared library) and FAKE_LOG_FLAGS (further
// flags of the log file) come from the build, per platform.
#define FAKE_API extern "C" FAKE_EXPORT

namespace {

struct Fake {
  std::mutex lock;
  std::vector<FakeVJoyCall> calls;
  std::vector<int32_t> updateScript;
  size_t nextUpdate = 0;
  int32_t enabled = 1;
  int32_t acquire = 1;
  bool recording = true;
  int logFd = -1;
  int countFd = -1;
  uint64_t changes = 0;
  decltype(FakeVJoyCall::report) lastReport = {};
  FakeVJoyUpdateHook hook = nullptr;
  void* hookContext = nullptr;

  Fake() { Configure(); }

  void Configure() {
    calls.clear();
    updateScript.assign(1, 1);
    nextUpdate = 0;
    // Off for long runs that only need the driver's answers.
    const char* r = std::getenv("FAKE_VJOY_RECORD");
    recording = !(r && std::strcmp(r, "0") == 0);
    const char* e = std::getenv("FAKE_VJOY_ENABLED");
    enabled = e ? static_cast<int32_t>(std::strtol(e, nullptr, 0)) : 1;
    const char* a = std::getenv("FAKE_VJOY_ACQUIRE");
    acquire = a ? static_cast<int32_t>(std::strtol(a, nullptr, 0)) : 1;
    if (const char* u = std::getenv("FAKE_VJOY_UPDATE"); u && *u) {
      updateScript.clear();
      for (const char* p = u; *p;) {
        char* end;
        updateScript.push_back(static_cast<int32_t>(std::strtoul(p, &end, 0)));
        if (end == p) break;
        p = *end == ',' ? end + 1 : end;
      }
      if (updateScript.empty()) updateScript.push_back(1);
    }
    if (logFd < 0) {
      if (const char* path = std::getenv("FAKE_VJOY_LOG"); path && *path)
        logFd = open(path, O_WRONLY | O_CREAT | O_APPEND | FAKE_LOG_FLAGS, 0644);
    }
    if (countFd < 0) {
      if (const char* path = std::getenv("FAKE_VJOY_COUNT"); path && *path)
        countFd = open(path, O_WRONLY | O_CREAT | O_TRUNC | FAKE_LOG_FLAGS, 0644);
    }
  }

  // Counts the updates that change the report. Every kCountStep of them,
  // the count so far replaces the count file's line: a few writes a second
  // at a phone's rate, where a log line per update would weigh on what a
  // benchmark measures.
  static constexpr uint64_t kCountStep = 32;
  void CountChange(const void* report) {
    if (!report || std::memcmp(report, lastReport, sizeof lastReport) == 0) return;
    std::memcpy(lastReport, report, sizeof lastReport);
    ++changes;
    if (countFd < 0 || changes % kCountStep != 0) return;
    char line[24];
    const int n = std::snprintf(line, sizeof line, "%20llu\n", static_cast<unsigned long long>(changes));
    if (lseek(countFd, 0, SEEK_SET) != 0 || n <= 0) return;
    ssize_t ignored = write(countFd, line, static_cast<size_t>(n));
    (void)ignored;
  }

  int32_t Record(int32_t kind, uint32_t device, const void* report, int32_t result) {
    if (recording) {
      FakeVJoyCall call{kind, device, {}, result};
      if (report) std::memcpy(call.report, report, sizeof call.report);
      calls.push_back(call);
    }
    if (logFd >= 0) {
      static const char* const names[] = {"vJoyEnabled", "GetVJDStatus", "AcquireVJD", "UpdateVJD",
                                          "RelinquishVJD"};
      std::string line = names[kind];
      if (kind != FAKE_VJOY_ENABLED) line += " " + std::to_string(device);
      if (report) {
        line += ' ';
        char hex[3];
        for (size_t i = 0; i < 96; ++i) {
          std::snprintf(hex, sizeof hex, "%02x", static_cast<const uint8_t*>(report)[i]);
          line += hex;
        }
      }
      line += '\n';
      // One write per line keeps lines whole across threads and processes.
      ssize_t ignored = write(logFd, line.data(), line.size());
      (void)ignored;
    }
    return result;
  }
};

Fake& TheFake() {
  static Fake* fake = new Fake;  // outlives every thread that may still call in
  return *fake;
}

}  // namespace

FAKE_API wendrix::VJoyBool vJoyEnabled(void) {
  Fake& f = TheFake();
  std::lock_guard g(f.lock);
  return f.Record(FAKE_VJOY_ENABLED, 0, nullptr, f.enabled);
}

FAKE_API int32_t GetVJDStatus(uint32_t device) {
  Fake& f = TheFake();
  std::lock_guard g(f.lock);
  return f.Record(FAKE_VJOY_STATUS, device, nullptr,
                  device == 1 ? wendrix::VJD_STAT_FREE : wendrix::VJD_STAT_MISS);
}

FAKE_API wendrix::VJoyBool AcquireVJD(uint32_t device) {
  Fake& f = TheFake();
  std::lock_guard g(f.lock);
  return f.Record(FAKE_VJOY_ACQUIRE, device, nullptr, device == 1 ? f.acquire : 0);
}

FAKE_API wendrix::VJoyBool UpdateVJD(uint32_t device, void* report) {
  Fake& f = TheFake();
  FakeVJoyUpdateHook hook;
  void* context;
  int32_t result;
  {
    std::lock_guard g(f.lock);
    size_t i = f.nextUpdate < f.updateScript.size() ? f.nextUpdate++ : f.updateScript.size() - 1;
    result = f.Record(FAKE_VJOY_UPDATE, device, report, f.updateScript[i]);
    f.CountChange(report);
    hook = f.hook;
    context = f.hookContext;
  }
  if (hook) hook(report, context);
  return result;
}

FAKE_API void RelinquishVJD(uint32_t device) {
  Fake& f = TheFake();
  std::lock_guard g(f.lock);
  f.Record(FAKE_VJOY_RELINQUISH, device, nullptr, 0);
}

FAKE_API void FakeVJoy_Reset(void) {
  Fake& f = TheFake();
  std::lock_guard g(f.lock);
  f.Configure();
}

FAKE_API void FakeVJoy_SetEnabled(int32_t result) {
  Fake& f = TheFake();
  std::lock_guard g(f.lock);
  f.enabled = result;
}

FAKE_API void FakeVJoy_SetAcquire(int32_t result) {
  Fake& f = TheFake();
  std::lock_guard g(f.lock);
  f.acquire = result;
}

FAKE_API void FakeVJoy_ScriptUpdates(const int32_t* results, size_t count) {
  Fake& f = TheFake();
  std::lock_guard g(f.lock);
  f.updateScript.assign(results, results + count);
  if (f.updateScript.empty()) f.updateScript.push_back(1);
  f.nextUpdate = 0;
}

FAKE_API void FakeVJoy_SetRecording(int32_t on) {
  Fake& f = TheFake();
  std::lock_guard g(f.lock);
  f.recording = on != 0;
}

FAKE_API size_t FakeVJoy_CallCount(void) {
  Fake& f = TheFake();
  std::lock_guard g(f.lock);
  return f.calls.size();
}

FAKE_API int32_t FakeVJoy_GetCall(size_t index, FakeVJoyCall* out) {
  Fake& f = TheFake();
  std::lock_guard g(f.lock);
  if (index >= f.calls.size()) return 0;
  *out = f.calls[index];
  return 1;
}

FAKE_API void FakeVJoy_SetUpdateHook(FakeVJoyUpdateHook hook, void* context) {
  Fake& f = TheFake();
  std::lock_guard g(f.lock);
  f.hook = hook;
  f.hookContext = context;
}
