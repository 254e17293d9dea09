// Bluetooth RFCOMM listener and its service registration.
#pragma once

#include <cstdint>

#include "RfcommAddress.h"
#include "link/AcceptCallback.h"
#include "link/ServiceRegistration.h"
#include "link/Thread.h"

namespace wendrix {

// {9E0F781F-AD33-4F5B-991F-E32E2F2B2CD7}
inline constexpr Guid BluetoothServiceClass = {
    0x9E0F781F, 0xAD33, 0x4F5B, {0x99, 0x1F, 0xE3, 0x2E, 0x2F, 0x2B, 0x2C, 0xD7}};

inline constexpr char kBluetoothServiceName[] = "Wendrix bluetooth server";

using SleepFn = void (*)(uint32_t milliseconds);
void SleepMilliseconds(uint32_t milliseconds);

// Listens on a free RFCOMM channel, registers the service and hands every
// accepted socket to the callback, on its own thread, for the life of the
// process. A failed pass is retried after a second, and not while Wi-Fi is
// active. Every call goes through Winsock2Entries.
class TBluetoothServer final : public TThread {
 public:
  explicit TBluetoothServer(RadioAcceptCallback callback, SleepFn sleep = &SleepMilliseconds)
      : TThread("bt-listener"), AcceptCallback_(callback), Sleep_(sleep) {}

 protected:
  void Execute() override;

 private:
  // One pass from the new socket to the end of accepting; returns when a
  // step fails, with the socket closed and the registration withdrawn.
  void RunPass(RfcommAddress& address, socklen_t& addressLength);
  // Waits at least a second, and on while Wi-Fi is active. False when the
  // thread is asked to stop.
  bool WaitBeforePass();

  const RadioAcceptCallback AcceptCallback_;
  const SleepFn Sleep_;
};

}  // namespace wendrix
