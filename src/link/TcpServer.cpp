#include "link/TcpServer.h"

#include "link/ListenerTimings.h"

namespace wendrix {

static SocketHandle OpenListeningSocket(uint16_t port) {
  SocketHandle s = OpenTcpSocket();
  if (s == kInvalidSocket) return kInvalidSocket;
  SetReuseAddress(s);
  if (BindToAnyAddress(s, port) == kSocketError || ListenOn(s, kListenBacklog) == kSocketError) {
    CloseSocket(s);
    return kInvalidSocket;
  }
  return s;
}

void TTcpServer::Execute() {
  control_.ServeUntilStopped(
      *this, listeningPort_, [this] { return OpenListeningSocket(port_); },
      [this](SocketHandle listening) { AcceptLoop(listening); });
}

void TTcpServer::AcceptLoop(SocketHandle listening) {
  while (!Terminated()) {
    SocketHandle accepted = AcceptConnection(listening);
    if (accepted == kInvalidSocket) {
      // Out of descriptors the pending connection stays queued; retrying
      // at once would only spin.
      if (IsResourceShortage(LastSocketError())) control_.Pause(kResourceRetryPause);
      continue;
    }
    SetNoDelay(accepted);
    SetKeepAlive(accepted, kKeepAliveIdleSeconds, kKeepAliveIntervalSeconds, kKeepAliveProbes);
    AcceptCallback_(accepted);
  }
}

void TTcpServer::Stop() { control_.StopThread(*this); }

}  // namespace wendrix
