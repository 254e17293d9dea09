#include "decode/LegacyDecoder.h"

namespace wendrix {

LegacyDecoderState gLegacy;
std::mutex legacyLock;

void InitializeLegacyDecoder() {}

void DecodeLegacyRecords(const uint8_t*, const uint8_t*, bool) {}

}  // namespace wendrix
