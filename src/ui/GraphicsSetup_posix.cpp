#include <QCoreApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <cstdlib>

#include <unistd.h>

#include "ui/GraphicsSetup.h"

namespace wendrix {

void PrepareGraphics() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // The pane draws through Qt Quick's software renderer, so that it paints
  // into the window's backing store like any widget. With the hardware
  // renderer it is a render-to-texture widget, and then every flush of the
  // window, however small (a bar that moved), composes the whole window
  // with OpenGL. QT_QUICK_BACKEND still chooses another renderer.
  if (!std::getenv("QT_QUICK_BACKEND")) QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  // Over MIT-SHM, Qt waits for the X server to finish reading the shared
  // image before painting again where the last flush was; the bars are
  // painted in the same place every frame, so every frame would wait for a
  // round trip. Sent over the socket instead, a frame's few small
  // rectangles cost less than that wait.
  setenv("QT_XCB_NO_MITSHM", "1", 0);
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
}

}  // namespace wendrix
