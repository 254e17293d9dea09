#pragma once

#include <cstdint>

#include "link/Sockets.h"

namespace wendrix {

// Called on a listener's thread with every accepted socket, which then
// belongs to the callee.
using AcceptCallback = void (*)(SocketHandle accepted);
// The Bluetooth listener's: with the phone's radio address as well, 0 when
// accept did not give it.
using RadioAcceptCallback = void (*)(SocketHandle accepted, uint64_t radio);

// Called on a framed reader's thread once per frame; the payload is valid
// only during the call.
using FrameCallback = void (*)(const uint8_t* payload, int32_t length);

}  // namespace wendrix
