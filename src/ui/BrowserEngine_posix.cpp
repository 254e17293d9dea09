#include <QCoreApplication>
#include <cstdlib>

#include <unistd.h>

#include "ui/BrowserEngine.h"

namespace wendrix {

void PrepareBrowserEngine() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
}

}  // namespace wendrix
