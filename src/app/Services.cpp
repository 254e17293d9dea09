#include "app/Services.h"

#include "joystick/ControlState.h"
#include "joystick/Joystick.h"
#include "link/BluetoothServer.h"
#include "link/MessageThread.h"
#include "link/TcpServer.h"
#include "link/UdpClient.h"
#include "link/UdpServer.h"

namespace wendrix {

void StartServices() {
  // The services live until the process ends; nothing keeps the Bluetooth one.
  auto* bluetooth = new TBluetoothServer(&OnBluetoothClientAccepted);
  bluetooth->Start();

  gState.connected.store(false, kRelaxed);
  gState.wifiDataSeen.store(false, kRelaxed);
  gState.bluetoothDataSeen.store(false, kRelaxed);

  AcquireJoystick();

  auto* tcp = new TTcpServer(&OnWifiClientAccepted);
  tcp->Start();
  gState.tcpServer.store(tcp, kRelaxed);

  auto* udp = new TUdpServer();
  udp->Start();
  gState.udpServer.store(udp, kRelaxed);

  gState.udpClient.store(new TUdpClient(), kRelaxed);
}

}  // namespace wendrix
