// Names the calling thread for the system's tools (top -H, ps -L, gdb and
// perf on Linux; debuggers on Windows). Names longer than 15 characters
// are cut there.
#pragma once

namespace wendrix {

void NameThisThread(const char* name);

}  // namespace wendrix
