#include "link/MessageThread.h"

namespace wendrix {

void OnWifiClientAccepted(SocketHandle) {}
void OnBluetoothClientAccepted(SocketHandle) {}

}  // namespace wendrix
