// The interface list through ws2_32's WSAIoctl(SIO_GET_INTERFACE_LIST),
// handed on as the portable InterfaceInfo records.
#include "link/InterfaceList.h"

#include <ws2tcpip.h>

#include <cstring>

#include "Winsock2Library.h"

namespace wendrix {

int QueryInterfaceList(SocketHandle s, uint32_t code, void*, uint32_t, void* out, uint32_t outLength,
                       uint32_t* bytesReturned) {
  if (code != 0x4004747F || !bytesReturned || !Ws2_32.WSAIoctl) {
    ::WSASetLastError(WSAEINVAL);
    return SOCKET_ERROR;
  }
  // The system's records, 76 bytes each, room for 100.
  INTERFACE_INFO list[100];
  static_assert(sizeof(INTERFACE_INFO) == 76);
  DWORD bytes = 0;
  if (Ws2_32.WSAIoctl(ToSystemSocket(s), code, nullptr, 0, list, sizeof list, &bytes, nullptr, nullptr) ==
      SOCKET_ERROR)
    return SOCKET_ERROR;
  const size_t count = bytes / sizeof(INTERFACE_INFO);
  const size_t needed = count * sizeof(InterfaceInfo);
  if (needed > outLength || (needed > 0 && !out)) {
    ::WSASetLastError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  auto* records = static_cast<InterfaceInfo*>(out);
  for (size_t i = 0; i < count; ++i) {
    records[i].iiFlags = list[i].iiFlags;
    records[i].iiAddress = list[i].iiAddress.AddressIn;
    records[i].iiBroadcastAddress = list[i].iiBroadcastAddress.AddressIn;
    records[i].iiNetmask = list[i].iiNetmask.AddressIn;
  }
  *bytesReturned = static_cast<uint32_t>(needed);
  return 0;
}

}  // namespace wendrix
