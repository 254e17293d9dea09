// A status snapshot of a machine where nothing stops a phone, for tests of
// what the pages show.
#pragma once

#include <arpa/inet.h>

#include "status/StatusPages.h"

namespace wendrix::test {

inline uint32_t Address(const char* text) { return inet_addr(text); }

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
