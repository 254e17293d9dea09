#include "link/MessageThread.h"

#include <algorithm>
#include <cstring>

#include "decode/LegacyDecoder.h"
#include "joystick/ControlState.h"
#include "joystick/StatusRecord.h"
#include "link/Connection2.h"
#include "link/SocketsExtra.h"
#include "link/StreamRead.h"
#include "protocol/Protocol.h"

namespace wendrix {

static void StartSession(SocketHandle accepted, LinkKind link, const SessionPeer& peer) {
  // Without a thread the connection cannot be served; drop it.
  if (!TThread::StartFreeOnTerminate(new TMessageThread(accepted, link, peer))) CloseSocket(accepted);
}

void OnWifiClientAccepted(SocketHandle accepted) {
  gState.lastSequence.store(0, kRelaxed);
  WifiPeer peer;
  const bool known = PeerAddress(accepted, peer.address, peer.port);
  StartSession(accepted, LinkKind::Wifi, {.wifi = known ? std::optional(peer) : std::nullopt});
}

void OnBluetoothClientAccepted(SocketHandle accepted, uint64_t radio) {
  gState.lastSequence.store(0, kRelaxed);
  StartSession(accepted, LinkKind::Bluetooth, {.wifi = std::nullopt, .radio = radio});
}

void TMessageThread::Execute() {
  if (!Serve()) CloseSocket(ClientSocket);
}

bool TMessageThread::Serve() {
  gLegacy.lastLegacySequence.store(0, std::memory_order_relaxed);
  SendBytes(ClientSocket, kGreeting.data(), kGreeting.size());

  if (!ReceiveField(kModeWordSize)) return false;
  if (std::any_of(buffer_, buffer_ + kModeWordSize, [](uint8_t b) { return b != 0; })) {
    uint32_t firstLength;
    std::memcpy(&firstLength, buffer_, sizeof firstLength);
    const FrameCallback onFrame = Link == LinkKind::Wifi ? &OnWifiFrame : &OnBluetoothFrame;
    return StartFreeOnTerminate(new TConnection(onFrame, ClientSocket, firstLength, Peer));
  }

  if (!ReceiveField(kAppIdentifierSize) || !IsAppIdentifier(buffer_)) return false;
  if (!ReceiveField(kLegacyPreambleSize - kAppIdentifierSize)) return false;
  ServeLegacyStream();
  return false;
}

bool TMessageThread::ReceiveField(size_t length) {
  const long n = ReceiveSome(ClientSocket, buffer_, length);
  if (n <= 0) return false;
  const auto received = static_cast<size_t>(n);
  return received >= length || ReadRemaining(received, length - received);
}

bool TMessageThread::ReadRemaining(size_t received, size_t missing) {
  return ReceiveExactly(ClientSocket, buffer_ + received, missing);
}

void TMessageThread::ServeLegacyStream() {
  // A receive may end inside a record: its first bytes stay at the start
  // of the buffer and the next receive completes it.
  size_t partial = 0;
  for (;;) {
    const long n = ReceiveSome(ClientSocket, buffer_ + partial, kLegacyChunkSize - partial);
    if (n <= 0) return;
    const size_t total = partial + static_cast<size_t>(n);
    const size_t whole = total - total % kLegacyRecordSize;
    if (whole > 0) DecodeLegacyRecords(buffer_, buffer_ + whole, true);
    partial = total - whole;
    std::memmove(buffer_, buffer_ + whole, partial);
    MarkDataSeen(whole / kLegacyRecordSize);
  }
}

void TMessageThread::MarkDataSeen(size_t records) const {
  (Link == LinkKind::Wifi ? gState.wifiDataSeen : gState.bluetoothDataSeen).store(true, kRelaxed);
  (Link == LinkKind::Wifi ? CountWifiMessages : CountBluetoothMessages)(records);
  if (records > 0) Peer.Show();
}

}  // namespace wendrix
