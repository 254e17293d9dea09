// Framed reader: cuts a framed stream into frames and hands each payload to
// a frame callback, on its own thread.
#pragma once

#include <cstdint>
#include <vector>

#include "link/AcceptCallback.h"
#include "link/Sockets.h"
#include "link/Thread.h"

namespace wendrix {

// The frame callbacks: raise the link's data-seen flag, then decode.
void OnWifiFrame(const uint8_t* payload, int32_t length);
void OnBluetoothFrame(const uint8_t* payload, int32_t length);

class TConnection final : public TThread {
 public:
  // `firstLength` is the mode word exactly as received (network order),
  // the length prefix of the first frame. The socket belongs to the reader,
  // which closes it when it ends.
  TConnection(FrameCallback onFrame, SocketHandle socket, uint32_t firstLength);

 protected:
  void Execute() override;

 private:
  bool ReadPayload(uint32_t length);

  FrameCallback OnFrame;
  SocketHandle ClientSocket;
  uint32_t FirstLength;
  // One buffer for every frame, grown to the longest frame seen so far.
  std::vector<uint8_t> payload_;
};

}  // namespace wendrix
