#include "link/Connection2.h"

#include <cstring>

#include "decode/FramedDecoder.h"
#include "joystick/ControlState.h"
#include "link/Protocol.h"
#include "link/StreamRead.h"

namespace wendrix {

void OnWifiFrame(const uint8_t* payload, int32_t length) {
  gState.wifiDataSeen.store(true, kRelaxed);
  DecodeFramedMessage(payload, length);
}

void OnBluetoothFrame(const uint8_t* payload, int32_t length) {
  gState.bluetoothDataSeen.store(true, kRelaxed);
  DecodeFramedMessage(payload, length);
}

// Room for the usual control message, so that even an empty frame gets a
// valid pointer.
constexpr size_t kInitialPayloadCapacity = 64;

TConnection::TConnection(FrameCallback onFrame, SocketHandle socket, uint32_t firstLength)
    : OnFrame(onFrame), ClientSocket(socket), FirstLength(firstLength),
      payload_(kInitialPayloadCapacity) {}

bool TConnection::ReadPayload(uint32_t length) {
  if (payload_.size() < length) payload_.resize(length);
  return ReceiveExactly(ClientSocket, payload_.data(), length);
}

void TConnection::Execute() {
  uint8_t prefix[kFramePrefixSize];
  std::memcpy(prefix, &FirstLength, sizeof prefix);
  for (;;) {
    const uint32_t length = ReadBigEndian32(prefix);
    if (length > kMaxFrameLength || !ReadPayload(length)) break;
    OnFrame(payload_.data(), static_cast<int32_t>(length));
    if (!ReceiveExactly(ClientSocket, prefix, sizeof prefix)) break;
  }
  CloseSocket(ClientSocket);
}

}  // namespace wendrix
