// The interface list query behind Winsock2Entries.WSAIoctl: one record per
// IPv4 address of the machine, in the order the system lists them.
#pragma once

#include <cstdint>

#include "SystemSockets.h"
#include "link/Sockets.h"

namespace wendrix {

constexpr uint32_t SIO_GET_INTERFACE_LIST = 0x4004747F;

// Flag bits of iiFlags.
constexpr uint32_t kInterfaceUp = 0x01;
constexpr uint32_t kInterfaceBroadcast = 0x02;
constexpr uint32_t kInterfaceLoopback = 0x04;
constexpr uint32_t kInterfacePointToPoint = 0x08;
constexpr uint32_t kInterfaceMulticast = 0x10;

// Addresses and masks are stored as the system gives them, in network order.
struct InterfaceInfo {
  uint32_t iiFlags;
  sockaddr_in iiAddress;
  sockaddr_in iiBroadcastAddress;
  sockaddr_in iiNetmask;
};

// Room for 100 records.
constexpr uint32_t kInterfaceListBufferSize = 100 * sizeof(InterfaceInfo);

// Fills `out` with InterfaceInfo records and sets `bytesReturned`. Fails
// (-1, errno set) for another code, an invalid socket, or a buffer too
// small for the whole list; then nothing is written.
int QueryInterfaceList(SocketHandle s, uint32_t code, void* in, uint32_t inLength, void* out,
                       uint32_t outLength, uint32_t* bytesReturned);

}  // namespace wendrix
