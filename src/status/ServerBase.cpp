#include "status/ServerBase.h"

#include "BuildConfig.h"
#include "status/StatusServer.h"

namespace wendrix {

namespace {
StatusServer* gLocalServer = nullptr;
}  // namespace

const std::string& ServerBaseAddress() {
  static const std::string base = [] {
    if (kServerBase[0] != '\0') return std::string(kServerBase);
    // Lives, and serves, until the process ends.
    auto* server = new StatusServer;
    if (!server->Start(0)) return std::string("http://127.0.0.1:0");
    gLocalServer = server;
    return server->BaseAddress();
  }();
  return base;
}

StatusServer* LocalStatusServer() {
  ServerBaseAddress();
  return gLocalServer;
}

}  // namespace wendrix
