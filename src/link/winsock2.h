// The table of socket entry points that the Bluetooth listener, the
// discovery broadcaster's interface query and the stream readers call
// through. LoadWinsock2 fills it once at start; tests may swap entries.
#pragma once

#include <cstdint>

#include "SystemSockets.h"
#include "link/Sockets.h"

namespace wendrix {

struct WSAQuerySet;  // Bluetooth service registration record

struct Winsock2EntryPoints {
  void* library = nullptr;  // set once loaded
  int (*WSAStartup)(uint16_t version, void* data) = nullptr;
  int (*WSAGetLastError)() = nullptr;
  SocketHandle (*socket)(int family, int type, int protocol) = nullptr;
  int (*bind)(SocketHandle s, const sockaddr* address, socklen_t length) = nullptr;
  int (*listen)(SocketHandle s, int backlog) = nullptr;
  SocketHandle (*accept)(SocketHandle s, sockaddr* address, socklen_t* length) = nullptr;
  int (*getsockname)(SocketHandle s, sockaddr* address, socklen_t* length) = nullptr;
  // Interface list query (SIO_GET_INTERFACE_LIST): fills `out` with
  // interface records and sets `bytesReturned`; 0 on success, -1 on failure.
  int (*WSAIoctl)(SocketHandle s, uint32_t code, void* in, uint32_t inLength, void* out, uint32_t outLength,
                  uint32_t* bytesReturned) = nullptr;
  // Bluetooth service registration; 0 on success, -1 on failure.
  int (*WSASetService)(const WSAQuerySet* record, int operation, uint32_t flags) = nullptr;
  ssize_t (*recv)(SocketHandle s, void* buffer, size_t length, int flags) = nullptr;
  int (*closesocket)(SocketHandle s) = nullptr;
};

extern Winsock2EntryPoints Winsock2Entries;

bool LoadWinsock2();
bool UnloadWinsock2();

}  // namespace wendrix
