// Stream reads of the sessions and framed readers, all through the
// version 2 receive entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/winsock2.h"

namespace wendrix {

// One receive call: the byte count, 0 when the peer closed, negative on
// failure (also when the entry is missing).
inline long ReceiveSome(SocketHandle s, uint8_t* buffer, size_t length) {
  const auto recv = Winsock2Entries.recv;
  return recv ? static_cast<long>(recv(s, buffer, length, 0)) : -1;
}

// Receives until all `length` bytes are in; false as soon as a call
// returns 0 or a negative value.
inline bool ReceiveExactly(SocketHandle s, uint8_t* buffer, size_t length) {
  size_t received = 0;
  while (received < length) {
    const long n = ReceiveSome(s, buffer + received, length - received);
    if (n <= 0) return false;
    received += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace wendrix
