// The pane as a full browser engine (Qt WebEngine), for a product server
// whose pages need one. The live part reaches the page's script through
// window.wendrixLive.
#include <QCoreApplication>
#include <QPointer>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cstdlib>
#include <utility>

#include <unistd.h>

#include "status/StatusPages.h"
#include "ui/BrowserPane.h"

namespace wendrix {

namespace {

// Every navigation of the page, for the page and each frame, goes through
// the filter first.
class TBrowserPage final : public QWebEnginePage {
 public:
  TBrowserPage(TBrowserPane::BeforeNavigate beforeNavigate, QObject* parent)
      : QWebEnginePage(parent), beforeNavigate_(std::move(beforeNavigate)) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
    bool cancel = false;
    beforeNavigate_(url, cancel);
    return !cancel;
  }
  // Links that ask for a new window pass the same filter; what it lets
  // through loads in this page, as no second window exists. One would-be
  // window is kept at a time, freed once it navigated, closed, or another
  // one was asked for.
  QWebEnginePage* createWindow(WebWindowType) override;

 private:
  TBrowserPane::BeforeNavigate beforeNavigate_;
  QPointer<QWebEnginePage> newWindow_;
};

// Catches the first navigation of a would-be new window and hands it back.
class TNewWindowCatcher final : public QWebEnginePage {
 public:
  TNewWindowCatcher(TBrowserPage* pane, TBrowserPane::BeforeNavigate beforeNavigate)
      : QWebEnginePage(pane->profile(), pane), pane_(pane), beforeNavigate_(std::move(beforeNavigate)) {
    connect(this, &QWebEnginePage::windowCloseRequested, this, &QObject::deleteLater);
  }

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
    if (done_) return false;
    done_ = true;
    bool cancel = false;
    beforeNavigate_(url, cancel);
    if (!cancel) pane_->load(url);
    deleteLater();
    return false;
  }

 private:
  TBrowserPage* pane_;
  TBrowserPane::BeforeNavigate beforeNavigate_;
  bool done_ = false;
};

QWebEnginePage* TBrowserPage::createWindow(WebWindowType) {
  if (newWindow_) newWindow_->deleteLater();
  newWindow_ = new TNewWindowCatcher(this, beforeNavigate_);
  return newWindow_;
}

class TEnginePane final : public TBrowserPane {
 public:
  TEnginePane(BeforeNavigate beforeNavigate, QWidget* parent)
      : TBrowserPane(parent), view_(new QWebEngineView(this)) {
    view_->setPage(new TBrowserPage(std::move(beforeNavigate), view_));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    // A navigation the filter cancels finishes too, on the page still shown.
    connect(view_, &QWebEngineView::loadFinished, this, [this](bool ok) {
      if (!ok && view_->url() == shown_) return;
      shown_ = view_->url();
      emit Shown(shown_, ok);
    });
  }

  void Navigate(const QUrl& address) override { view_->load(address); }
  void Stop() override { view_->stop(); }
  void ShowLive(const std::string& html) override {
    view_->page()->runJavaScript(QString::fromStdString(LiveScript(html)));
  }
  QUrl Address() const override { return view_->url(); }
  QString Title() const override { return view_->title(); }

 private:
  QWebEngineView* view_;
  QUrl shown_;
};

}  // namespace

TBrowserPane* TBrowserPane::Create(BeforeNavigate beforeNavigate, QWidget* parent) {
  return new TEnginePane(std::move(beforeNavigate), parent);
}

void PrepareBrowserPane() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // The pane draws through Qt Quick's software renderer, so that it paints
  // into the window's backing store like any widget. With the hardware
  // renderer it is a render-to-texture widget, and then every flush of the
  // window, however small (a bar that moved), composes the whole window
  // with OpenGL. QT_QUICK_BACKEND still chooses another renderer.
  if (!std::getenv("QT_QUICK_BACKEND")) QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  // The engine's sandbox refuses to start as root.
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
}

}  // namespace wendrix
