// Repaint requests from any thread to the window. A request is cheap and
// non-blocking; requests made before the window takes one coalesce into
// one call of the installed hook.
#pragma once

namespace wendrix {

using RepaintHookFn = void (*)(void* context);

// Installed by the window; nullptr removes it. A request made while no
// hook is installed is remembered and served by the next one.
void InstallRepaintHook(RepaintHookFn hook, void* context);

// Any thread: marks the window as needing a paint.
void RequestRepaint();

// Window thread, before it paints: clears the mark so that the next
// request queues a new paint. Returns whether a request was pending.
bool TakeRepaintRequest();

}  // namespace wendrix
