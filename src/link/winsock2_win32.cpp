// Winsock2Entries on Windows: ws2_32.dll loaded by name at start, its ten
// entry points looked up in a fixed order, and thin adapters from the
// table's portable prototypes to theirs.
#include <climits>
#include <string>
#include <vector>

#include "WideText.h"
#include "Winsock2Library.h"
#include "link/InterfaceList.h"
#include "link/ServiceRegistration.h"
#include "link/winsock2.h"

namespace wendrix {

Winsock2EntryPoints Winsock2Entries;
Winsock2Library Ws2_32;

namespace {

// Pinned, like the driver library: threads may still call in after the
// module finalisation has freed it.
HMODULE SystemLoad(const char* name) {
  HMODULE library = ::LoadLibraryA(name);
  HMODULE pinned;
  if (library)
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<LPCSTR>(library), &pinned);
  return library;
}
FARPROC SystemFind(HMODULE library, const char* name) { return ::GetProcAddress(library, name); }
BOOL SystemFree(HMODULE library) { return ::FreeLibrary(library); }
constexpr LibraryLoaderCalls kSystemLoader = {&SystemLoad, &SystemFind, &SystemFree};
const LibraryLoaderCalls* gLoader = &kSystemLoader;

template <typename Fn>
void LookUp(Fn& entry, const char* name) {
  entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(gLoader->find(Ws2_32.handle, name)));
}

// Adapters: our handles and sizes to the library's.
int StartupWin32(uint16_t version, void* data) {
  return Ws2_32.WSAStartup(version, static_cast<WSADATA*>(data));
}
int LastErrorWin32() { return Ws2_32.WSAGetLastError(); }
SocketHandle SocketWin32(int family, int type, int protocol) {
  return FromSystemSocket(Ws2_32.socket(family, type, protocol));
}
int BindWin32(SocketHandle s, const sockaddr* address, socklen_t length) {
  return Ws2_32.bind(ToSystemSocket(s), address, length);
}
int ListenWin32(SocketHandle s, int backlog) { return Ws2_32.listen(ToSystemSocket(s), backlog); }
SocketHandle AcceptWin32(SocketHandle s, sockaddr* address, socklen_t* length) {
  return FromSystemSocket(Ws2_32.accept(ToSystemSocket(s), address, length));
}
int GetSockNameWin32(SocketHandle s, sockaddr* address, socklen_t* length) {
  return Ws2_32.getsockname(ToSystemSocket(s), address, length);
}
ssize_t RecvWin32(SocketHandle s, void* buffer, size_t length, int flags) {
  const int n = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  return Ws2_32.recv(ToSystemSocket(s), static_cast<char*>(buffer), n, flags);
}
int CloseWin32(SocketHandle s) { return ::closesocket(ToSystemSocket(s)); }

std::string Ansi(const char* utf8) {
  const std::wstring wide = Wide(utf8);
  if (wide.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, text.data(), n, nullptr, nullptr);
  text.resize(static_cast<size_t>(n - 1));
  return text;
}

// Hands `record` to the registration entry as the entry's own record form
// (WSAQUERYSETW or WSAQUERYSETA), with the texts already converted.
template <typename QuerySet, typename Text, typename Entry>
int Register(Entry entry, const WSAQuerySet& record, Text name, Text comment, int operation, uint32_t flags) {
  std::vector<CSADDR_INFO> addresses;
  for (uint32_t i = 0; record.lpcsaBuffer && i < record.dwNumberOfCsAddrs; ++i) {
    const CsAddrInfo& from = record.lpcsaBuffer[i];
    CSADDR_INFO to{};
    to.LocalAddr = {from.LocalAddr.lpSockaddr, from.LocalAddr.iSockaddrLength};
    to.RemoteAddr = {from.RemoteAddr.lpSockaddr, from.RemoteAddr.iSockaddrLength};
    to.iSocketType = from.iSocketType;
    to.iProtocol = from.iProtocol;
    addresses.push_back(to);
  }
  QuerySet q{};
  q.dwSize = sizeof q;
  q.lpszServiceInstanceName = record.lpszServiceInstanceName ? name.data() : nullptr;
  q.lpServiceClassId = reinterpret_cast<GUID*>(const_cast<Guid*>(record.lpServiceClassId));
  q.lpszComment = record.lpszComment ? comment.data() : nullptr;
  q.dwNameSpace = record.dwNameSpace;
  q.dwNumberOfCsAddrs = static_cast<DWORD>(addresses.size());
  q.lpcsaBuffer = addresses.empty() ? nullptr : addresses.data();
  return entry(&q, static_cast<WSAESETSERVICEOP>(operation), flags);
}

}  // namespace

int SetServiceWin32(const WSAQuerySet* record, int operation, uint32_t flags) {
  if (!record || !Ws2_32.WSASetService) {
    ::WSASetLastError(WSAEINVAL);
    return SOCKET_ERROR;
  }
  if (Ws2_32.setServiceIsWide)
    return Register<WSAQUERYSETW>(Ws2_32.WSASetService, *record, Wide(record->lpszServiceInstanceName),
                                  Wide(record->lpszComment), operation, flags);
  const auto setServiceA =
      reinterpret_cast<decltype(&::WSASetServiceA)>(reinterpret_cast<void*>(Ws2_32.WSASetService));
  return Register<WSAQUERYSETA>(setServiceA, *record, Ansi(record->lpszServiceInstanceName),
                                Ansi(record->lpszComment), operation, flags);
}

void SetLibraryLoaderForTesting(const LibraryLoaderCalls* calls) { gLoader = calls ? calls : &kSystemLoader; }

bool LoadWinsock2() {
  if (Ws2_32.handle) return true;
  Ws2_32.handle = gLoader->load("ws2_32.dll");
  if (!Ws2_32.handle) return false;
  LookUp(Ws2_32.WSAStartup, "WSAStartup");
  LookUp(Ws2_32.WSAGetLastError, "WSAGetLastError");
  LookUp(Ws2_32.socket, "socket");
  LookUp(Ws2_32.bind, "bind");
  LookUp(Ws2_32.listen, "listen");
  LookUp(Ws2_32.accept, "accept");
  LookUp(Ws2_32.getsockname, "getsockname");
  LookUp(Ws2_32.WSAIoctl, "WSAIoctl");
  LookUp(Ws2_32.WSASetService, "WSASetServiceW");
  Ws2_32.setServiceIsWide = Ws2_32.WSASetService != nullptr;
  if (!Ws2_32.WSASetService) LookUp(Ws2_32.WSASetService, "WSASetServiceA");
  LookUp(Ws2_32.recv, "recv");

  // An entry the library lacks stays empty in the table too.
  Winsock2EntryPoints& e = Winsock2Entries;
  e = Winsock2EntryPoints{};
  e.library = Ws2_32.handle;
  if (Ws2_32.WSAStartup) e.WSAStartup = &StartupWin32;
  if (Ws2_32.WSAGetLastError) e.WSAGetLastError = &LastErrorWin32;
  if (Ws2_32.socket) e.socket = &SocketWin32;
  if (Ws2_32.bind) e.bind = &BindWin32;
  if (Ws2_32.listen) e.listen = &ListenWin32;
  if (Ws2_32.accept) e.accept = &AcceptWin32;
  if (Ws2_32.getsockname) e.getsockname = &GetSockNameWin32;
  if (Ws2_32.WSAIoctl) e.WSAIoctl = &QueryInterfaceList;
  if (Ws2_32.WSASetService) e.WSASetService = &SetServiceWin32;
  if (Ws2_32.recv) e.recv = &RecvWin32;
  e.closesocket = &CloseWin32;
  return true;
}

bool UnloadWinsock2() {
  if (Ws2_32.handle) {
    gLoader->free(Ws2_32.handle);
    Ws2_32.handle = nullptr;
  }
  Winsock2Entries.library = nullptr;
  return true;
}

}  // namespace wendrix
