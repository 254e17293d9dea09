// UDP receiver on port 41503.
#pragma once

#include "link/Thread.h"

namespace wendrix {

class TUdpServer final : public TThread {
 protected:
  void Execute() override {}
};

}  // namespace wendrix
