// The window's browser pane. Two kinds, one chosen when the program is
// built: a light rich-text view of the pages (BrowserPane_light.cpp) and a
// full browser engine (BrowserPane_webengine.cpp). Every navigation, the
// pane's own and the user's, first goes to a filter that may cancel it.
#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <string>

namespace wendrix {

class TBrowserPane : public QWidget {
  Q_OBJECT

 public:
  // Sets cancel to stop the navigation.
  using BeforeNavigate = std::function<void(const QUrl& url, bool& cancel)>;

  // The pane of this build.
  static TBrowserPane* Create(BeforeNavigate beforeNavigate, QWidget* parent);

  // Loads the address, unless the filter cancels it.
  virtual void Navigate(const QUrl& address) = 0;
  // Ends what the pane is loading.
  virtual void Stop() = 0;
  // Hands the page shown its live part (an HTML fragment) in place of the
  // one it shows; a page without one is left alone.
  virtual void ShowLive(const std::string& html) = 0;
  // The address and title of the page shown.
  virtual QUrl Address() const = 0;
  virtual QString Title() const = 0;

 signals:
  // A page has been loaded and is shown, ok or not; a cancelled or stopped
  // navigation shows none.
  void Shown(const QUrl& address, bool ok);

 protected:
  using QWidget::QWidget;
};

// What the pane of this build needs set before the QApplication exists.
void PrepareBrowserPane();

}  // namespace wendrix
