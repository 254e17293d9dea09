#include <cstdlib>

#include "ui/BrowserPane.h"
#include "ui/GraphicsSetup.h"

namespace wendrix {

void PrepareGraphics() {
  // Over MIT-SHM, Qt waits for the X server to finish reading the shared
  // image before painting again where the last flush was; the bars are
  // painted in the same place every frame, so every frame would wait for a
  // round trip. Sent over the socket instead, a frame's few small
  // rectangles cost less than that wait.
  setenv("QT_XCB_NO_MITSHM", "1", 0);
  PrepareBrowserPane();
}

}  // namespace wendrix
