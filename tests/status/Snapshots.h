// A status snapshot of a machine where nothing stops a phone, for tests of
// what the pages show.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "status/StatusPages.h"

namespace wendrix::test {

// A dotted IPv4 address in network order.
inline uint32_t Address(const char* text) {
  unsigned char bytes[4] = {};
  std::sscanf(text, "%hhu.%hhu.%hhu.%hhu", &bytes[0], &bytes[1], &bytes[2], &bytes[3]);
  uint32_t address = 0;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

inline StatusSnapshot HealthySnapshot() {
  StatusSnapshot s;
  s.system.computerName = "racing-pc";
  s.system.bluetoothAdapters = 1;
  s.system.firewall.name = "ufw";
  s.system.firewall.active = Answer::kNo;
  s.announced.push_back({Address("198.18.0.1"), Address("198.18.0.255"), SendResult::kSent});
  s.announcePasses = 3;
  s.tcp = s.udp = ListenerState::kListening;
  s.bluetooth = BluetoothState::kRegistered;
  s.bluetoothChannel = 5;
  s.joystick = JoystickState::kReady;
  return s;
}

}  // namespace wendrix::test
