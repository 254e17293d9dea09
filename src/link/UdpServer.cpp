#include "link/UdpServer.h"

#include "decode/LegacyDecoder.h"
#include "joystick/ControlState.h"
#include "link/ListenerTimings.h"

namespace wendrix {

void TUdpServer::Execute() {
  while (!Terminated()) {
    DatagramSocket = OpenUdpSocket();
    if (DatagramSocket != kInvalidSocket &&
        BindToAnyAddress(DatagramSocket, port_) == kSocketError) {
      CloseSocket(DatagramSocket);
      DatagramSocket = kInvalidSocket;
    }
    if (DatagramSocket == kInvalidSocket) {
      control_.Pause(kBindRetryPause);
      continue;
    }
    if (!control_.Publish(DatagramSocket)) {
      CloseSocket(DatagramSocket);
      break;
    }
    receivingPort_.store(LocalPort(DatagramSocket), std::memory_order_release);
    ReceiveLoop();
    receivingPort_.store(0, std::memory_order_release);
    control_.CloseSocket();
    DatagramSocket = kInvalidSocket;
  }
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

void TUdpServer::Stop() {
  Terminate();
  control_.RequestStop();
  WaitFor();
}

}  // namespace wendrix
