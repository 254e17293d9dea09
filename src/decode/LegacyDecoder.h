// Legacy 7-byte control records: sequence filter, axes and the 50 ms button
// pulse timing. One process-wide state serves every legacy stream and the
// UDP receiver, guarded by legacyLock. The framed decoder takes the same
// lock, so no two decoder calls interleave.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace wendrix {

constexpr unsigned kButtonCount = 8;

struct LegacyDecoderState {
  std::atomic<uint16_t> lastLegacySequence{0};  // also reset by sessions, outside the lock
  uint16_t legacySteering = 0;
  uint16_t legacyPedals = 0;
  uint8_t currentButtons = 0;                 // latest button byte seen on a stream
  uint8_t previousButtons = 0;                // the byte the next stream record is compared with
  uint8_t pulsedButtons = 0;                  // the mask shown to the driver and the window
  uint8_t pulseCount[kButtonCount] = {};      // steps still to show; 0: no train
  uint8_t pulseLevel[kButtonCount] = {};      // level the running train shows
  uint32_t pulseDeadline[kButtonCount] = {};  // earliest time of the next step, ms
};

extern LegacyDecoderState gLegacy;
extern std::mutex legacyLock;

// Module initialisation: the whole state back to zero.
void InitializeLegacyDecoder();

// Decodes the whole records in [first, end); an empty run is allowed and
// bytes after the last whole record are ignored. withButtons is true for
// stream chunks and false for UDP datagrams, whose button byte is unused.
void DecodeLegacyRecords(const uint8_t* first, const uint8_t* end, bool withButtons);

}  // namespace wendrix
