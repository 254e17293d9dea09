// The system's socket declarations on Windows: Windows sockets (the 1.1
// calls are linked from wsock32; the version 2 ones are reached only
// through Winsock2Entries).
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <ws2bth.h>
#include <sys/types.h>  // ssize_t

#include <cstdint>

#include "link/Sockets.h"

// Our own names for these (link/ServiceRegistration.h, link/InterfaceList.h).
#undef NS_BTH
#undef SIO_GET_INTERFACE_LIST

using socklen_t = int;

namespace wendrix {

// Socket handles are kernel handles, of which only the low 32 bits count;
// INVALID_SOCKET becomes kInvalidSocket (-1) and back.
inline SOCKET ToSystemSocket(SocketHandle s) { return static_cast<SOCKET>(static_cast<intptr_t>(s)); }
inline SocketHandle FromSystemSocket(SOCKET s) {
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

}  // namespace wendrix
