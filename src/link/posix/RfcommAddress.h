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

}  // namespace wendrix
