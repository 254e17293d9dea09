// The version 2 sockets library as Windows has it: ws2_32.dll, loaded at
// run time (never imported), and its entry points with their own
// prototypes. Winsock2Entries call through these.
#pragma once

#include "SystemSockets.h"

namespace wendrix {

struct Winsock2Library {
  HMODULE handle = nullptr;
  decltype(&::WSAStartup) WSAStartup = nullptr;
  decltype(&::WSAGetLastError) WSAGetLastError = nullptr;
  decltype(&::socket) socket = nullptr;
  decltype(&::bind) bind = nullptr;
  decltype(&::listen) listen = nullptr;
  decltype(&::accept) accept = nullptr;
  decltype(&::getsockname) getsockname = nullptr;
  decltype(&::WSAIoctl) WSAIoctl = nullptr;
  // "WSASetServiceW", or "WSASetServiceA" where the wide one is missing;
  // then the pointer is the ANSI entry and takes a WSAQUERYSETA.
  decltype(&::WSASetServiceW) WSASetService = nullptr;
  bool setServiceIsWide = true;
  decltype(&::recv) recv = nullptr;
};

extern Winsock2Library Ws2_32;

// How LoadWinsock2 reaches the loader; tests put a recording one in.
struct LibraryLoaderCalls {
  HMODULE (*load)(const char* name);
  FARPROC (*find)(HMODULE library, const char* name);
  BOOL (*free)(HMODULE library);
};
// nullptr restores LoadLibraryA, GetProcAddress and FreeLibrary.
void SetLibraryLoaderForTesting(const LibraryLoaderCalls* calls);

// The registration entry of Winsock2Entries: hands our record (UTF-8
// texts) to Ws2_32.WSASetService as a WSAQUERYSETW, or a WSAQUERYSETA for
// the ANSI entry.
int SetServiceWin32(const struct WSAQuerySet* record, int operation, uint32_t flags);

}  // namespace wendrix
