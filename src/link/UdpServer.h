// UDP receiver on port 41503.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/ListenerControl.h"
#include "link/Sockets.h"
#include "link/Thread.h"
#include "protocol/Protocol.h"

namespace wendrix {

// Takes 8-byte control datagrams of type 1 from any sender and feeds their
// record to the legacy decoder without buttons. While the port cannot be
// bound it tries again about once a second.
class TUdpServer final : public TThread {
 public:
  explicit TUdpServer(uint16_t port = kLinkPort) : TThread("udp-receiver"), port_(port) {}

  // The port it receives on (useful with port 0), 0 while not bound.
  uint16_t ReceivingPort() const { return receivingPort_.load(std::memory_order_acquire); }
  ~TUdpServer() override { Stop(); }

  // Ends the thread body and joins it. The program never calls this.
  void Stop();

 protected:
  void Execute() override;

 private:
  void ReceiveLoop();

  SocketHandle DatagramSocket = kInvalidSocket;
  const uint16_t port_;
  std::atomic<uint16_t> receivingPort_{0};
  ListenerControl control_;
};

}  // namespace wendrix
