// Legacy 7-byte control records: sequence filter, axes and the 50 ms button
// pulse timing. One process-wide state serves every legacy stream and the
// UDP receiver, guarded by legacyLock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace wendrix {

struct LegacyDecoderState {
  std::atomic<uint16_t> lastLegacySequence{0};  // also reset by sessions, outside the lock
  uint16_t legacySteering = 0;
  uint16_t legacyPedals = 0;
  uint8_t currentButtons = 0;
  uint8_t previousButtons = 0;
  uint8_t pulsedButtons = 0;
  uint8_t pulseCount[8] = {};
  uint8_t pulseLevel[8] = {};
  uint32_t pulseDeadline[8] = {};
};

extern LegacyDecoderState gLegacy;
extern std::mutex legacyLock;

// Module initialisation: clears the button and pulse fields.
void InitializeLegacyDecoder();

// Decodes the whole records in [first, end); an empty run is allowed.
void DecodeLegacyRecords(const uint8_t* first, const uint8_t* end, bool withButtons);

}  // namespace wendrix
