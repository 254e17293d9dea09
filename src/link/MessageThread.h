// Sessions: the handshake and the legacy record stream.
#pragma once

#include "link/Sockets.h"

namespace wendrix {

void OnWifiClientAccepted(SocketHandle accepted);
void OnBluetoothClientAccepted(SocketHandle accepted);

}  // namespace wendrix
