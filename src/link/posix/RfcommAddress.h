// The RFCOMM socket address on Linux: the kernel's sockaddr_rc.
#pragma once

#include "link/ServiceRegistration.h"

namespace wendrix {

using RfcommAddress = SockAddrRfcomm;
constexpr int kRfcommFamily = 31;  // AF_BLUETOOTH

// Any radio, and channel 0: the kernel picks a free channel at listen. The
// service class travels only in the registration.
inline RfcommAddress RfcommBindAddress(const Guid&) {
  RfcommAddress address{};
  address.family = kRfcommFamily;
  return address;
}

inline uint32_t RfcommChannel(const RfcommAddress& address) { return address.channel; }

// The radio's 48-bit address, as BlueZ prints it from the highest byte.
inline uint64_t RfcommRadio(const RfcommAddress& address) {
  uint64_t radio = 0;
  for (int i = 5; i >= 0; --i) radio = radio << 8 | address.bdaddr[i];
  return radio;
}

}  // namespace wendrix
