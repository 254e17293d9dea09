// Process-wide set-up of the window's drawing; before the QApplication exists.
#pragma once

namespace wendrix {

// Keeps small updates on X11 from waiting for the X server, and sets what
// the browser pane of this build needs (PrepareBrowserPane).
void PrepareGraphics();

}  // namespace wendrix
