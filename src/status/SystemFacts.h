// What the set-up check reads from the system itself, without root: one
// implementation per platform.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace wendrix {

enum class Answer : uint8_t { kNo, kYes, kUnknown };

struct FirewallFacts {
  std::string name;  // the firewall looked at, e.g. "ufw"; empty when none was found
  Answer active = Answer::kUnknown;
  Answer allowsLinkPort = Answer::kUnknown;  // TCP and UDP 41503 in
  std::string detail;                        // what was read, or why not
  std::string fix;                           // how to let the port in
};

struct SystemFacts {
  std::string computerName;
  int bluetoothAdapters = -1;  // -1 when it cannot be told
  FirewallFacts firewall;
};

// What ReadSystemFacts keeps from one call to the next for a caller that
// reads the facts again and again. Finding a process means reading every
// process's name: a firewall daemon found is checked again by its process
// number alone, and one not found is looked for again after `searchEvery`.
struct FactsMemory {
  std::chrono::steady_clock::duration searchEvery = std::chrono::seconds(30);
  std::string firewallProcess;  // the number of the one last found
  std::chrono::steady_clock::time_point nextSearch{};
};

// Reads the facts now; a few small reads, for a page request. `root` is
// put before every file the facts are read from (tests give a tree of
// their own); the computer's name is always the system's.
SystemFacts ReadSystemFacts(const std::string& root = {}, FactsMemory* memory = nullptr);

// Platform wording of the fixes the pages give.
struct PlatformAdvice {
  const char* findPortOwner;    // how to find the program that holds 41503
  const char* joystickMissing;  // how to make the virtual joystick usable
  const char* startBluetooth;   // how to start the Bluetooth service
  const char* noAdapter;        // how to get a radio
};
const PlatformAdvice& Advice();

// "HH:MM:SS" of a time in milliseconds since 1970, in local time.
std::string LocalClockTime(int64_t milliseconds);

}  // namespace wendrix
