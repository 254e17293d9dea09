// One framed control message: identifier, sequence filter, buttons, axes,
// then a repaint request and the driver push. Messages shorter than 22
// bytes or with another identifier are dropped. Takes legacyLock.
#pragma once

#include <cstdint>

namespace wendrix {

// data holds length bytes (0 to the frame limit); a negative length is
// treated as too short.
void DecodeFramedMessage(const uint8_t* data, int32_t length);

}  // namespace wendrix
