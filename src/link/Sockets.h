// The thin socket layer the services use. On Linux the handles are file
// descriptors; another platform puts its own implementation behind the
// same declarations. Calls return kSocketError (or kInvalidSocket) on
// failure and leave the reason for LastSocketError.
#pragma once

#include <cstddef>
#include <cstdint>

struct sockaddr;

namespace wendrix {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;
constexpr int kSocketError = -1;

// IPv4 sockets, not inherited by child processes.
SocketHandle OpenTcpSocket();
SocketHandle OpenUdpSocket();

int CloseSocket(SocketHandle s);
// Wakes every call blocked on the socket; the handle stays open.
void ShutdownSocket(SocketHandle s);

// Binds to the port on every local IPv4 address (INADDR_ANY).
int BindToAnyAddress(SocketHandle s, uint16_t port);
int ListenOn(SocketHandle s, int backlog);
// The peer's address is not reported.
SocketHandle AcceptConnection(SocketHandle listening);
// The port the socket is bound to, 0 when unknown.
uint16_t LocalPort(SocketHandle s);

// Sends without raising a signal when the peer has gone.
long SendBytes(SocketHandle s, const void* data, size_t length);
// One datagram into the buffer, the sender not reported. A datagram longer
// than the buffer is a failure, kSocketError with kMessageTooLong.
long ReceiveDatagram(SocketHandle s, void* buffer, size_t length);

// Socket options. Each returns 0 or kSocketError.
int SetNoDelay(SocketHandle s);
// Lets a restarted listener bind while old connections linger; two live
// listeners still cannot share a port.
int SetReuseAddress(SocketHandle s);
// Probes an idle connection after idleSeconds, then every intervalSeconds;
// after `probes` unanswered probes (or as long unacknowledged data) the
// connection fails and blocked reads return an error.
int SetKeepAlive(SocketHandle s, int idleSeconds, int intervalSeconds, int probes);

// Error codes.
int LastSocketError();
extern const int kMessageTooLong;
// Errors after which retrying at once cannot succeed (out of descriptors
// or memory).
bool IsResourceShortage(int error);

}  // namespace wendrix
