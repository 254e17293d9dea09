// The decoders' surroundings for a fuzz target: a stub driver bound into
// VJoyEntries, a clock the input drives, and a zeroed state.
#pragma once

#include <cstdint>

#include "joystick/JoystickReport.h"

namespace wendrix::fuzz {

// Binds the stub driver and the clock once, and puts the decoders' state
// back to zero for the next input.
void ResetForInput(uint32_t clockStart);
void AdvanceClock(uint32_t ms);

// The last report the stub driver received, and how many it received.
const JoystickReport& LastPush();
uint64_t PushCount();

// Stops the run when an invariant fails.
void Check(bool condition, const char* what);

}  // namespace wendrix::fuzz
