#include "link/Connection2.h"

#include <cstring>

#include "decode/FramedDecoder.h"
#include "joystick/ControlState.h"
#include "joystick/StatusRecord.h"
#include "link/StreamRead.h"
#include "protocol/Protocol.h"

namespace wendrix {

void OnWifiFrame(const uint8_t* payload, int32_t length) {
  gState.wifiDataSeen.store(true, kRelaxed);
  CountWifiMessages(1);
  DecodeFramedMessage(payload, length);
}

void OnBluetoothFrame(const uint8_t* payload, int32_t length) {
  gState.bluetoothDataSeen.store(true, kRelaxed);
  CountBluetoothMessages(1);
  DecodeFramedMessage(payload, length);
}

// Room for a few usual control messages.
constexpr size_t kInitialBufferSize = 512;

TConnection::TConnection(FrameCallback onFrame, SocketHandle socket, uint32_t firstLength, SessionPeer peer)
    : TThread("frame-reader"),
      OnFrame(onFrame),
      ClientSocket(socket),
      FirstLength(firstLength),
      Peer(peer),
      buffer_(kInitialBufferSize) {}

bool TConnection::Fill() {
  const long n = ReceiveSome(ClientSocket, buffer_.data() + end_, buffer_.size() - end_);
  if (n <= 0) return false;
  end_ += static_cast<size_t>(n);
  return true;
}

void TConnection::MakeRoom(size_t frameSize) {
  if (buffer_.size() - start_ >= frameSize) return;
  std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
  end_ -= start_;
  start_ = 0;
  if (buffer_.size() < frameSize) buffer_.resize(frameSize);
}

bool TConnection::Await(size_t size) {
  MakeRoom(size);
  while (end_ - start_ < size)
    if (!Fill()) return false;
  return true;
}

void TConnection::Execute() {
  // The mode word is the first frame's length prefix.
  std::memcpy(buffer_.data(), &FirstLength, kFramePrefixSize);
  end_ = kFramePrefixSize;
  while (Await(kFramePrefixSize)) {
    const uint32_t length = ReadBigEndian32(buffer_.data() + start_);
    const size_t frameSize = kFramePrefixSize + length;
    if (length > kMaxFrameLength || !Await(frameSize)) break;
    // Named before the frame moves the wheel, as the frame's count and
    // data mark are: whoever sees the report sees its phone too.
    Peer.Show();
    OnFrame(buffer_.data() + start_ + kFramePrefixSize, static_cast<int32_t>(length));
    start_ += frameSize;
    if (start_ == end_) start_ = end_ = 0;
  }
  CloseSocket(ClientSocket);
}

}  // namespace wendrix
