// Bluetooth RFCOMM listener and its service registration.
#pragma once

#include "link/AcceptCallback.h"
#include "link/Thread.h"

namespace wendrix {

class TBluetoothServer final : public TThread {
 public:
  explicit TBluetoothServer(AcceptCallback callback) : AcceptCallback_(callback) {}

 protected:
  void Execute() override {}

 private:
  AcceptCallback AcceptCallback_;
};

}  // namespace wendrix
