#include <csignal>

#include "link/TcpServer.h"

namespace wendrix {

// A peer that goes away must show up as a failed call, not kill the process.
void InitializeTcpServerModule() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace wendrix
