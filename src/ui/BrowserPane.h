// The browser pane's page: every navigation, the pane's own and the user's,
// for the page and each frame, first goes to a filter that may cancel it.
#pragma once

#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>
#include <functional>

namespace wendrix {

class TBrowserPage final : public QWebEnginePage {
  Q_OBJECT

 public:
  // Sets cancel to stop the navigation.
  using BeforeNavigate = std::function<void(const QUrl& url, bool& cancel)>;

  TBrowserPage(BeforeNavigate beforeNavigate, QObject* parent);

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
  // Links that ask for a new window pass the same filter; what it lets
  // through loads in this page, as no second window exists. One would-be
  // window is kept at a time, freed once it navigated, closed, or another
  // one was asked for.
  QWebEnginePage* createWindow(WebWindowType type) override;

 private:
  BeforeNavigate beforeNavigate_;
  QPointer<QWebEnginePage> newWindow_;
};

}  // namespace wendrix
