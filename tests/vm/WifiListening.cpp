#include "WifiListening.h"

#include "LinkTestSupport.h"
#include "joystick/ControlState.h"
#include "link/TcpServer.h"
#include "link/UdpServer.h"
#include "protocol/Protocol.h"

namespace wendrix::test {

bool WifiListening() {
  return Eventually([] {
    TTcpServer* tcp = gState.tcpServer.load();
    TUdpServer* udp = gState.udpServer.load();
    return tcp && udp && tcp->ListeningPort() == kLinkPort && udp->ReceivingPort() == kLinkPort;
  });
}

}  // namespace wendrix::test
