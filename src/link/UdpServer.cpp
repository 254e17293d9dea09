#include "link/UdpServer.h"

#include "decode/LegacyDecoder.h"
#include "joystick/ControlState.h"
#include "joystick/StatusRecord.h"
#include "link/ListenerTimings.h"
#include "link/SocketsExtra.h"

namespace wendrix {

static SocketHandle OpenDatagramSocket(uint16_t port) {
  SocketHandle s = OpenUdpSocket();
  if (s != kInvalidSocket && BindToAnyAddress(s, port) == kSocketError) {
    CloseSocket(s);
    return kInvalidSocket;
  }
  return s;
}

void TUdpServer::Execute() {
  control_.ServeUntilStopped(
      *this, receivingPort_,
      [this] { return ShowListenerState(gStatus.udpListener, OpenDatagramSocket(port_)); },
      [this](SocketHandle s) {
        DatagramSocket = s;
        ReceiveLoop();
        DatagramSocket = kInvalidSocket;
      });
}

void TUdpServer::ReceiveLoop() {
  // One buffer for every datagram; a longer datagram fails the receive.
  uint8_t buffer[kUdpBufferSize];
  while (!Terminated()) {
    uint32_t sender = 0;
    uint16_t senderPort = 0;
    const long n = ReceiveDatagramFrom(DatagramSocket, buffer, sizeof buffer, sender, senderPort);
    if (n >= 0 && IsControlDatagram(buffer, static_cast<size_t>(n))) {
      DecodeLegacyRecords(buffer + 1, buffer + kDatagramSize, false);
      gState.wifiDataSeen.store(true, kRelaxed);
      CountWifiMessages(1);
      ShowWifiPeer({sender, senderPort});
    } else if (n < 0 && IsResourceShortage(LastSocketError())) {
      control_.Pause(kResourceRetryPause);
    }
  }
}

void TUdpServer::Stop() { control_.StopThread(*this); }

}  // namespace wendrix
