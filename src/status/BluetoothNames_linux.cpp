#include <systemd/sd-bus.h>

#include <cstdio>
#include <filesystem>
#include <mutex>

#include "status/BluetoothNames.h"

namespace wendrix {

namespace {

// BlueZ's object for a device seen through adapter `adapter` (e.g. hci0).
std::string DevicePath(const std::string& adapter, uint64_t radio) {
  char tail[32];
  std::snprintf(tail, sizeof tail, "/dev_%02X_%02X_%02X_%02X_%02X_%02X",
                static_cast<unsigned>(radio >> 40 & 0xFF), static_cast<unsigned>(radio >> 32 & 0xFF),
                static_cast<unsigned>(radio >> 24 & 0xFF), static_cast<unsigned>(radio >> 16 & 0xFF),
                static_cast<unsigned>(radio >> 8 & 0xFF), static_cast<unsigned>(radio & 0xFF));
  return "/org/bluez/" + adapter + tail;
}

std::string AskBluez(uint64_t radio, const std::string& root) {
  std::error_code error;
  std::filesystem::directory_iterator adapters(root + "/sys/class/bluetooth", error);
  if (error) return {};
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return {};
  sd_bus_set_method_call_timeout(bus, 250000);
  std::string name;
  for (const auto& entry : adapters) {
    const std::string adapter = entry.path().filename().string();
    // hci0, not the hci0:1 entries of its connections.
    if (adapter.rfind("hci", 0) != 0 || adapter.find(':') != std::string::npos) continue;
    char* alias = nullptr;
    sd_bus_error failure{};
    if (sd_bus_get_property_string(bus, "org.bluez", DevicePath(adapter, radio).c_str(), "org.bluez.Device1",
                                   "Alias", &failure, &alias) >= 0 &&
        alias) {
      name = alias;
    }
    std::free(alias);
    sd_bus_error_free(&failure);
    if (!name.empty()) break;
  }
  // Closed without flushing: nothing waits on a stalled bus.
  sd_bus_close_unref(bus);
  return name;
}

}  // namespace

std::string BluetoothDeviceName(uint64_t radio, const std::string& root, std::chrono::milliseconds retry) {
  using Clock = std::chrono::steady_clock;
  static std::mutex lock;
  static uint64_t lastRadio = 0;
  static std::string lastRoot;
  static std::string lastName;
  static Clock::time_point lastAsked;
  if (radio == 0) return {};
  std::lock_guard guard(lock);
  const Clock::time_point now = Clock::now();
  if (radio != lastRadio || root != lastRoot || (lastName.empty() && now - lastAsked >= retry)) {
    lastName = AskBluez(radio, root);
    lastRadio = radio;
    lastRoot = root;
    lastAsked = now;
  }
  return lastName;
}

}  // namespace wendrix
