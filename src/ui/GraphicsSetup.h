// Process-wide set-up of the window's drawing; before the QApplication exists.
#pragma once

namespace wendrix {

// Shares the OpenGL contexts the browser engine needs, has the pane drawn in
// software into the window's own backing store, keeps small updates on X11
// from waiting for the X server and, when the effective user is root, turns
// off the engine's sandbox, which refuses to start as root.
void PrepareGraphics();

}  // namespace wendrix
