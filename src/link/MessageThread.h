// Sessions: the greeting, the handshake and the legacy record stream.
#pragma once

#include <cstddef>
#include <cstdint>

#include "joystick/StatusRecord.h"
#include "link/Sockets.h"
#include "link/Thread.h"

namespace wendrix {

// The channel a stream arrived on; it chooses the data-seen flag and the
// frame callback.
enum class LinkKind : uint8_t { Bluetooth = 0, Wifi = 1 };

// The accept callbacks of the TCP and the Bluetooth listener: reset the
// framed decoder's last sequence number and start a session. `radio` is
// the phone's radio address, 0 when not known.
void OnWifiClientAccepted(SocketHandle accepted);
void OnBluetoothClientAccepted(SocketHandle accepted, uint64_t radio);

// One session per accepted stream. It frees itself when it ends; every end
// but the hand-over to a framed reader closes the socket. The stream's
// peer is shown on the status pages once the stream delivers data, so a
// connection that never gets past the handshake names nobody.
class TMessageThread final : public TThread {
 public:
  TMessageThread(SocketHandle socket, LinkKind link, SessionPeer peer = {})
      : TThread("session"), ClientSocket(socket), Link(link), Peer(peer) {}

  static constexpr size_t kBufferSize = 1000;

 protected:
  void Execute() override;

 private:
  // True when the socket went to a framed reader.
  bool Serve();
  // Receives a handshake field of `length` bytes into the buffer's start.
  bool ReceiveField(size_t length);
  // Completes a field after a short receive: the `missing` bytes go right
  // after the `received` ones.
  bool ReadRemaining(size_t received, size_t missing);
  void ServeLegacyStream();
  // Raises the link's data-seen flag and counts the records taken.
  void MarkDataSeen(size_t records) const;

  SocketHandle ClientSocket;
  LinkKind Link;
  SessionPeer Peer;
  uint8_t buffer_[kBufferSize];
};

}  // namespace wendrix
