// The window offscreen, its browser pane against pages served on 127.0.0.1
// by the test or by the program's own server, the user's web browser
// caught; shared by the tests of both panes.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QHash>
#include <QPaintEvent>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FakeDriver.h"
#include "PaneDriver.h"
#include "joystick/ControlState.h"
#include "status/ServerBase.h"
#include "ui/BrowserPane.h"
#include "ui/MainForm.h"

namespace wendrix::test {

inline constexpr int kLoadTimeoutMs = 60000;

// Serves every path with a page of links and remembers what was asked for.
class PageServer : public QObject {
 public:
  PageServer() {
    if (!server_.listen(QHostAddress::LocalHost)) ADD_FAILURE() << "cannot listen";
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Serve(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }

  QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }
  QStringList requests;

 private:
  void Serve(QTcpSocket* socket) {
    QByteArray& pending = buffers_[socket];
    pending += socket->readAll();
    if (!pending.contains("\r\n\r\n")) return;
    const QString path = QString::fromLatin1(pending.split(' ').value(1));
    buffers_.remove(socket);
    requests << path;
    const QString base = Base();
    const QString other = QStringLiteral("http://localhost:%1").arg(server_.serverPort());
    const QByteArray body =
        QStringLiteral(
            "<html><head><title>%1</title></head><body>"
            "<p><a id='links' href='%2/zodevur_app/en/links/about.php?x=1'>links</a></p>"
            "<p><a id='capitals' href='%2/ZODEVUR_APP/EN/LINKS/about.php'>capitals</a></p>"
            "<p><a id='otherhost' href='%3/zodevur_app/en/links/other.php'>other host</a></p>"
            "<p><a id='relative' href='links/relative.php'>relative</a></p>"
            "<p><a id='blanklinks' target='_blank' href='%2/zodevur_app/en/links/blank.php'>new</a></p>"
            "<p><a id='blankother' target='_blank' href='%2/zodevur_app/en/other.php'>new other</a></p>"
            "</body></html>")
            .arg(path.toHtmlEscaped(), base, other)
            .toUtf8();
    socket->write(
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n"
        "Content-Length: " +
        QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
  }

  QTcpServer server_;
  QHash<QTcpSocket*, QByteArray> buffers_;
};

// Stands in for the user's web browser.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  UrlCatcher() {
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
  }
  ~UrlCatcher() override {
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  }
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) {
    opened << url;
    emit Opened();
  }
 signals:
  void Opened();
};

// Runs the event loop until `done` holds.
template <typename F>
void ProcessEventsUntil(F done) {
  while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override { window_.reset(); }

  template <typename W>
  W* Child(const char* name) {
    W* w = window_->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  // The server the pane's pages come from.
  virtual QString PaneBase() const { return server_.Base(); }

  QString Address(std::string_view path) const {
    return PaneBase() + QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
  }

  // Waits until a page at `address` is shown, counting only pages shown
  // after the one the previous wait took.
  void WaitForLoad(const QString& address) {
    QSignalSpy shown(pane_, &TBrowserPane::Shown);
    for (;;) {
      const auto load = std::find_if(loads_.begin(), loads_.end(),
                                     [&](const Load& l) { return l.ok && l.address == address; });
      if (load != loads_.end()) {
        loads_.erase(loads_.begin(), load + 1);
        return;
      }
      ASSERT_TRUE(shown.wait(kLoadTimeoutMs)) << "no load of " << address.toStdString() << "; pane at "
                                              << pane_->Address().toString().toStdString();
    }
  }

  // Waits until the user's browser has been asked to open `count` addresses.
  bool WaitForOpened(qsizetype count) {
    QSignalSpy opened(&browser_, &UrlCatcher::Opened);
    while (browser_.opened.size() < count)
      if (!opened.wait(kLoadTimeoutMs)) return false;
    return true;
  }

  PageServer server_;
  UrlCatcher browser_;
  std::unique_ptr<TMainForm> window_;
  TBrowserPane* pane_ = nullptr;
  std::unique_ptr<PaneDriver> driver_;
  // Pages shown and not yet taken by WaitForLoad.
  struct Load {
    bool ok;
    QString address;
  };
  std::vector<Load> loads_;
};

// The pages of the program's own server, as the window is made by default.
class BuiltInPages : public MainFormTest {
 protected:
  void SetUp() override {
    if (!ServerBaseAddress().starts_with("http://127.0.0.1:")) GTEST_SKIP() << "built with another server";
    MainFormTest::SetUp();
  }
  QString PaneBase() const override { return QString::fromStdString(ServerBaseAddress()); }
  // The status code of a GET of `address` on the built-in server.
  static int StatusOf(const QUrl& address);
};

// Every paint of the window's widgets, the pane's included, grouped by the
// update pass of the window (or of the pane's own window) that made it.
class PaintLog : public QObject {
 public:
  explicit PaintLog(QWidget* window) {
    Watch(window);
    for (QWidget* w : window->findChildren<QWidget*>()) Watch(w);
  }
  ~PaintLog() override {
    for (QWidget* w : watched_)
      if (w) w->removeEventFilter(this);
  }

  struct Paint {
    int pass;
    QObject* widget;
    QRect area;  // what the paint covered, in the widget's coordinates
  };
  std::vector<Paint> paints;

  int PaintsOf(const QObject* widget) const {
    return static_cast<int>(
        std::count_if(paints.begin(), paints.end(), [&](const Paint& p) { return p.widget == widget; }));
  }

  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::UpdateRequest) ++pass_;
    if (e->type() == QEvent::Paint)
      paints.push_back({pass_, o, static_cast<QPaintEvent*>(e)->region().boundingRect()});
    return false;
  }

 private:
  void Watch(QWidget* w) {
    w->installEventFilter(this);
    watched_.push_back(w);
  }
  int pass_ = 0;
  std::vector<QPointer<QWidget>> watched_;
};

}  // namespace wendrix::test
