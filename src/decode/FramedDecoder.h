// One framed control message: identifier, sequence filter, buttons, axes.
#pragma once

#include <cstdint>

namespace wendrix {

void DecodeFramedMessage(const uint8_t* data, int32_t length);

}  // namespace wendrix
