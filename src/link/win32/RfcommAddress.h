// The RFCOMM socket address on Windows: SOCKADDR_BTH, 30 bytes.
#pragma once

#include "SystemSockets.h"

#include <cstring>

#include "link/ServiceRegistration.h"

namespace wendrix {

using RfcommAddress = SOCKADDR_BTH;
static_assert(sizeof(RfcommAddress) == 30);
constexpr int kRfcommFamily = AF_BTH;  // 32

// Any radio (address zero), BT_PORT_ANY so that the system picks a free
// channel, and the service class.
inline RfcommAddress RfcommBindAddress(const Guid& serviceClass) {
  RfcommAddress address{};
  address.addressFamily = AF_BTH;
  address.btAddr = 0;
  static_assert(sizeof address.serviceClassId == sizeof serviceClass);
  std::memcpy(&address.serviceClassId, &serviceClass, sizeof serviceClass);
  address.port = BT_PORT_ANY;
  return address;
}

}  // namespace wendrix
