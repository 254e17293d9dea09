// Process-wide set-up of the browser engine; before the QApplication exists.
#pragma once

namespace wendrix {

// Shares the OpenGL contexts the engine needs, has the pane drawn in
// software into the window's own backing store and, when the effective user
// is root, turns off the engine's sandbox, which refuses to start as root.
void PrepareBrowserEngine();

}  // namespace wendrix
