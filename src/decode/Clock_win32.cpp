#include <windows.h>
#include <mmsystem.h>

#include "decode/Clock.h"

namespace wendrix {

// winmm's count since Windows started; it wraps after 49.7 days, which the
// decoder's deadline test allows for.
uint32_t SystemMilliseconds() { return ::timeGetTime(); }

}  // namespace wendrix
