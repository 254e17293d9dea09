#include "decode/FramedDecoder.h"

namespace wendrix {

void DecodeFramedMessage(const uint8_t*, int32_t) {}

}  // namespace wendrix
