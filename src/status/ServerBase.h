// The base address (scheme, host and port) of every page the window shows:
// the local page server's own, unless the build names another server.
#pragma once

#include <string>

namespace wendrix {

// Formed once: the first call starts the local page server when the build
// names no server. Any thread.
const std::string& ServerBaseAddress();

class StatusServer;
// The local page server started by ServerBaseAddress, or null when the
// build names another server or it could not start.
StatusServer* LocalStatusServer();

}  // namespace wendrix
