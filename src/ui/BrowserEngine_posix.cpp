#include <QCoreApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <cstdlib>

#include <unistd.h>

#include "ui/BrowserEngine.h"

namespace wendrix {

void PrepareBrowserEngine() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // The pane draws through Qt Quick's software renderer, so that it paints
  // into the window's backing store like any widget. With the hardware
  // renderer it is a render-to-texture widget, and then every flush of the
  // window, however small (a bar that moved), composes the whole window
  // with OpenGL. QT_QUICK_BACKEND still chooses another renderer.
  if (!std::getenv("QT_QUICK_BACKEND")) QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
}

}  // namespace wendrix
