// Socket calls beyond the services' thin layer (Sockets.h): the peer of a
// connection or datagram, for the status pages, and the non-blocking
// loopback sockets the page server polls. Same handles and error
// conventions as Sockets.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/Sockets.h"

namespace wendrix {

// Whether the error says that another socket holds the address and port.
bool IsAddressInUse(int error);
// Whether a service registration failed because the system's registrar
// (BlueZ, the Bluetooth service) could not be reached, rather than refused.
bool IsRegistrarUnreachable(int error);
// Whether a non-blocking call failed only because it would have to wait.
bool IsWouldBlock(int error);

// ReceiveDatagram that also gives the sender's IPv4 address (network
// order) and port; both 0 when not known.
long ReceiveDatagramFrom(SocketHandle s, void* buffer, size_t length, uint32_t& address, uint16_t& port);
// The IPv4 address (network order) and port of a connected socket's peer;
// false when there is none.
bool PeerAddress(SocketHandle s, uint32_t& address, uint16_t& port);

// A non-blocking TCP listener on 127.0.0.1 only, at `port` (0: the system
// picks one); kInvalidSocket on failure.
SocketHandle OpenLoopbackListener(uint16_t port, int backlog);
// A non-blocking datagram socket on 127.0.0.1 connected to itself: a byte
// sent on it, from any thread, makes it readable, which wakes a thread
// waiting on it in WaitForSockets. kInvalidSocket on failure.
SocketHandle OpenLoopbackWaker();
// Accepts one connection as a non-blocking socket; kInvalidSocket when
// none is waiting or on failure.
SocketHandle AcceptNonBlocking(SocketHandle listening);
// One receive or send on a non-blocking socket: the byte count, 0 when the
// peer closed (receive only), kSocketError on failure or when it would wait.
long ReceiveNow(SocketHandle s, void* buffer, size_t length);
long SendNow(SocketHandle s, const void* data, size_t length);

// One entry of WaitForSockets: what to wait for, and what happened.
struct SocketWait {
  SocketHandle socket = kInvalidSocket;
  bool wantRead = false;
  bool wantWrite = false;
  bool readable = false;  // also set on errors and hang-ups
  bool writable = false;
};

// Waits up to timeoutMs for any of the entries; the number of entries with
// an event, 0 on time-out, kSocketError on failure.
int WaitForSockets(SocketWait* entries, size_t count, int timeoutMs);

}  // namespace wendrix
