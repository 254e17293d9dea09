// Waiting for the receiver's Wi-Fi listeners after the service start.
#pragma once

namespace wendrix::test {

// Whether both Wi-Fi listeners serve the link port; waits for them.
bool WifiListening();

}  // namespace wendrix::test
