// TCP listener on port 41503.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/AcceptCallback.h"
#include "link/ListenerControl.h"
#include "link/Thread.h"
#include "protocol/Protocol.h"

namespace wendrix {

// Module initialisation of the socket layer (one file per platform).
void InitializeTcpServerModule();

// Accepts stream connections for ever and hands each one, with TCP_NODELAY
// and keepalive set, to the callback on this thread. While the port cannot
// be bound it tries again about once a second.
class TTcpServer final : public TThread {
 public:
  explicit TTcpServer(AcceptCallback callback, uint16_t port = kLinkPort)
      : TThread("tcp-listener"), AcceptCallback_(callback), port_(port) {}

  // The port it listens on (useful with port 0), 0 while not listening.
  uint16_t ListeningPort() const { return listeningPort_.load(std::memory_order_acquire); }
  ~TTcpServer() override { Stop(); }

  // Ends the thread body and joins it. The program never calls this.
  void Stop();

 protected:
  void Execute() override;

 private:
  void AcceptLoop(SocketHandle listening);

  AcceptCallback AcceptCallback_;
  const uint16_t port_;
  std::atomic<uint16_t> listeningPort_{0};
  ListenerControl control_;
};

}  // namespace wendrix
