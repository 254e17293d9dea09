#include "link/UdpServer.h"

#include "decode/LegacyDecoder.h"
#include "joystick/ControlState.h"
#include "link/ListenerTimings.h"

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
      *this, receivingPort_, [this] { return OpenDatagramSocket(port_); },
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
    const long n = ReceiveDatagram(DatagramSocket, buffer, sizeof buffer);
    if (n >= 0 && IsControlDatagram(buffer, static_cast<size_t>(n))) {
      DecodeLegacyRecords(buffer + 1, buffer + kDatagramSize, false);
      gState.wifiDataSeen.store(true, kRelaxed);
    } else if (n < 0 && IsResourceShortage(LastSocketError())) {
      control_.Pause(kResourceRetryPause);
    }
  }
}

void TUdpServer::Stop() { control_.StopThread(*this); }

}  // namespace wendrix
