// The one process-wide state through which every part of the program meets.
// No lock guards it: flags, numbers and references are relaxed atomics and
// each report field is written with one 32-bit store.
#pragma once

#include <atomic>
#include <cstdint>

#include "joystick/JoystickReport.h"

namespace wendrix {

class TTcpServer;
class TUdpServer;
class TUdpClient;

struct ControlState {
  std::atomic<bool> wifiActive{false};
  alignas(8) JoystickReport report{};  // access through the Report* helpers below
  std::atomic<bool> wifiDataSeen{false};
  std::atomic<bool> bluetoothDataSeen{false};
  std::atomic<uint8_t> displayButtons{0};
  std::atomic<int32_t> feedbackForce{0};
  std::atomic<TTcpServer*> tcpServer{nullptr};
  std::atomic<TUdpServer*> udpServer{nullptr};
  std::atomic<TUdpClient*> udpClient{nullptr};
  std::atomic<bool> driverFailed{false};
  std::atomic<bool> statusChanged{false};
  std::atomic<bool> pageChanged{false};
  std::atomic<bool> connected{false};
  std::atomic<bool> bluetoothActive{false};
  std::atomic<bool> sequenceCheck{false};
  std::atomic<int16_t> lastSequence{0};
};

extern ControlState gState;

constexpr auto kRelaxed = std::memory_order_relaxed;

// One 32-bit store or load of a report field.
inline void ReportStore(int32_t& field, int32_t value) {
  std::atomic_ref<int32_t>(field).store(value, kRelaxed);
}
inline void ReportStore(uint32_t& field, uint32_t value) {
  std::atomic_ref<uint32_t>(field).store(value, kRelaxed);
}
inline int32_t ReportLoad(int32_t& field) { return std::atomic_ref<int32_t>(field).load(kRelaxed); }
inline uint32_t ReportLoad(uint32_t& field) { return std::atomic_ref<uint32_t>(field).load(kRelaxed); }

// A copy of the report, read field by field. The fields the program never
// writes stay zero, so only the three written ones are loaded.
inline JoystickReport SnapshotReport() {
  JoystickReport copy{};
  copy.axisX = ReportLoad(gState.report.axisX);
  copy.axisY = ReportLoad(gState.report.axisY);
  copy.buttons = ReportLoad(gState.report.buttons);
  return copy;
}

// The initial values that the module initialisation of Main gives.
void InitializeMainState();

}  // namespace wendrix
