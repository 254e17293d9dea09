#include "status/ServerBase.h"

#include "BuildConfig.h"
#include "status/StatusServer.h"

namespace wendrix {

const std::string& ServerBaseAddress() {
  static const std::string base = [] {
    if (kServerBase[0] != '\0') return std::string(kServerBase);
    // Lives, and serves, until the process ends.
    auto* server = new StatusServer;
    return server->Start(0) ? server->BaseAddress() : std::string("http://127.0.0.1:0");
  }();
  return base;
}

}  // namespace wendrix
