// Framed reader: cuts a framed stream into frames and hands each payload to
// a frame callback, on its own thread.
#pragma once

#include <cstdint>
#include <vector>

#include "joystick/StatusRecord.h"
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
  // which closes it when it ends. The stream's peer is shown with every
  // frame it delivers.
  TConnection(FrameCallback onFrame, SocketHandle socket, uint32_t firstLength, SessionPeer peer = {});

 protected:
  void Execute() override;

 private:
  // Receives once into the free end of the buffer; false when the stream
  // ended or failed.
  bool Fill();
  // Makes room for a frame of `frameSize` bytes starting at `start_`.
  void MakeRoom(size_t frameSize);
  // Receives until `size` bytes from `start_` on are in; false when the
  // stream ended or failed first.
  bool Await(size_t size);

  FrameCallback OnFrame;
  SocketHandle ClientSocket;
  uint32_t FirstLength;
  SessionPeer Peer;
  // One buffer for the whole stream, grown to the longest frame seen (at
  // most a length prefix and 100000 bytes). Each receive takes whatever
  // has arrived, so a frame usually costs a single call; payloads are
  // handed to the callback where they lie, without a copy.
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;  // first byte not yet delivered
  size_t end_ = 0;    // end of the bytes received
};

}  // namespace wendrix
