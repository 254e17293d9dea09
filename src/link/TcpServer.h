// TCP listener on port 41503.
#pragma once

#include "link/AcceptCallback.h"
#include "link/Thread.h"

namespace wendrix {

// Module initialisation of the socket layer.
void InitializeTcpServerModule();

class TTcpServer final : public TThread {
 public:
  explicit TTcpServer(AcceptCallback callback) : AcceptCallback_(callback) {}

 protected:
  void Execute() override {}

 private:
  AcceptCallback AcceptCallback_;
};

}  // namespace wendrix
