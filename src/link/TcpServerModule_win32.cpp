#include "SystemSockets.h"
#include "link/TcpServer.h"

namespace wendrix {

namespace {
WSADATA tcpServerSocketsData;  // process-wide; nothing reads it
}  // namespace

// Windows sockets 1.1 for the listeners, the sessions and the broadcaster.
// The result is not looked at: without sockets every call fails later, and
// nothing cleans up, as the library serves until the process ends.
void InitializeTcpServerModule() { ::WSAStartup(0x0101, &tcpServerSocketsData); }

}  // namespace wendrix
