#include "ui/BrowserPane.h"

#include <utility>

namespace wendrix {

namespace {

// Catches the first navigation of a would-be new window and hands it back.
class TNewWindowCatcher final : public QWebEnginePage {
 public:
  TNewWindowCatcher(TBrowserPage* pane, TBrowserPage::BeforeNavigate beforeNavigate)
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
  TBrowserPage::BeforeNavigate beforeNavigate_;
  bool done_ = false;
};

}  // namespace

TBrowserPage::TBrowserPage(BeforeNavigate beforeNavigate, QObject* parent)
    : QWebEnginePage(parent), beforeNavigate_(std::move(beforeNavigate)) {}

bool TBrowserPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool) {
  bool cancel = false;
  beforeNavigate_(url, cancel);
  return !cancel;
}

QWebEnginePage* TBrowserPage::createWindow(WebWindowType) {
  if (newWindow_) newWindow_->deleteLater();
  newWindow_ = new TNewWindowCatcher(this, beforeNavigate_);
  return newWindow_;
}

}  // namespace wendrix
