// The Bluetooth service registration record handed to
// Winsock2Entries.WSASetService, and the RFCOMM socket address.
#pragma once

#include <cstdint>

struct sockaddr;

namespace wendrix {

// RFCOMM streams have this protocol on both platforms (family AF_BLUETOOTH,
// 31, on Linux; AF_BTH, 32, on Windows: link/*/RfcommAddress.h).
constexpr int kBtProtoRfcomm = 3;
constexpr uint32_t NS_BTH = 16;
constexpr int RNRSERVICE_REGISTER = 0;
constexpr int RNRSERVICE_DELETE = 2;

struct Guid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};

// Linux's RFCOMM socket address (sockaddr_rc). Channel 0 lets the kernel
// pick a free channel when the socket starts listening.
struct SockAddrRfcomm {
  uint16_t family;    // sa_family_t
  uint8_t bdaddr[6];  // the radio; all zero for any radio
  uint8_t channel;
};
static_assert(sizeof(SockAddrRfcomm) == 10);

struct SocketAddress {
  sockaddr* lpSockaddr;
  int iSockaddrLength;
};

struct CsAddrInfo {
  SocketAddress LocalAddr;
  SocketAddress RemoteAddr;
  int iSocketType;
  int iProtocol;
};

// The fields a registration uses; texts are UTF-8.
struct WSAQuerySet {
  uint32_t dwSize;
  const char* lpszServiceInstanceName;
  const Guid* lpServiceClassId;
  const char* lpszComment;
  uint32_t dwNameSpace;
  uint32_t dwNumberOfCsAddrs;
  const CsAddrInfo* lpcsaBuffer;
};

}  // namespace wendrix
