// Discovery broadcaster.
#pragma once

namespace wendrix {

class TUdpClient {
 public:
  void AnnounceOnAllInterfaces() {}
};

}  // namespace wendrix
