// The window offscreen, its browser pane against pages served on 127.0.0.1.
#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPaintEvent>
#include <QMenuBar>
#include <QProgressBar>
#include <QProxyStyle>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>
#include <QTimer>
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "FakeDriver.h"
#include "decode/FramedDecoder.h"
#include "joystick/ControlState.h"
#include "joystick/Repaint.h"
#include "joystick/StatusRecord.h"
#include "protocol/Protocol.h"
#include "status/ServerBase.h"
#include "status/StatusServer.h"
#include "status/StatusPages.h"
#include "ui/GraphicsSetup.h"
#include "ui/ControlDisplay.h"
#include "ui/MainForm.h"
#include "ui/WebPages.h"

namespace wendrix {
namespace {

constexpr int kLoadTimeoutMs = 60000;

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
    const QByteArray body = QStringLiteral(
        "<html><head><title>%1</title></head><body>"
        "<a id='links' href='%2/zodevur_app/en/links/about.php?x=1'>links</a>"
        "<a id='capitals' href='%2/ZODEVUR_APP/EN/LINKS/about.php'>capitals</a>"
        "<a id='otherhost' href='%3/zodevur_app/en/links/other.php'>other host</a>"
        "<a id='blanklinks' target='_blank' href='%2/zodevur_app/en/links/blank.php'>new</a>"
        "<a id='blankother' target='_blank' href='%2/zodevur_app/en/other.php'>new other</a>"
        "</body></html>").arg(path.toHtmlEscaped(), base, other).toUtf8();
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n"
                  "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
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

int gStartCalls = 0;
bool gPaneEmptyAtStart = false;

void FakeStartServices() {
  ++gStartCalls;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (auto* pane = top->findChild<QWebEngineView*>(QStringLiteral("WebBrowser1")))
      gPaneEmptyAtStart = pane->url().isEmpty();
}

// Runs the event loop until `done` holds.
template <typename F>
void ProcessEventsUntil(F done) {
  while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetProcessState();
    ReportStore(gState.report.axisY, 32768);  // as the acquisition leaves it
    gStartCalls = 0;
    MainFormSetup setup;
    setup.serverBase = PaneBase().toStdString();
    setup.startServices = &FakeStartServices;
    window_ = std::make_unique<TMainForm>(setup);
    pane_ = Child<QWebEngineView>("WebBrowser1");
    QObject::connect(pane_, &QWebEngineView::loadFinished, pane_,
                     [this](bool ok) { loads_.push_back({ok, pane_->url().toString()}); });
    window_->show();
  }

  void TearDown() override { window_.reset(); }

  template <typename W>
  W* Child(const char* name) {
    W* w = window_->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  // The server the pane's pages come from.
  virtual QString PaneBase() const { return server_.Base(); }

  QString Address(std::string_view path) const { return PaneBase() + QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())); }

  // Waits until a load of `address` has finished, counting only loads that
  // finished after the one the previous wait took. The pane shows a new
  // address before its load has finished, so the address at the finish is
  // what tells the loads apart.
  void WaitForLoad(const QString& address) {
    QSignalSpy finished(pane_, &QWebEngineView::loadFinished);
    for (;;) {
      const auto load = std::find_if(loads_.begin(), loads_.end(),
                                     [&](const Load& l) { return l.ok && l.address == address; });
      if (load != loads_.end()) {
        loads_.erase(loads_.begin(), load + 1);
        return;
      }
      ASSERT_TRUE(finished.wait(kLoadTimeoutMs)) << "no load of " << address.toStdString()
                                                 << "; pane at " << pane_->url().toString().toStdString();
    }
  }

  // The value of a script run in the pane's page.
  QVariant Evaluate(const QString& script) {
    QVariant value;
    bool done = false;
    pane_->page()->runJavaScript(script, [&](const QVariant& v) {
      value = v;
      done = true;
    });
    ProcessEventsUntil([&] { return done; });
    return value;
  }

  void Click(const char* id) {
    pane_->page()->runJavaScript(QStringLiteral("document.getElementById('%1').click()").arg(QLatin1String(id)));
  }

  PageServer server_;
  UrlCatcher browser_;
  std::unique_ptr<TMainForm> window_;
  QWebEngineView* pane_ = nullptr;
  // Finished loads not yet taken by WaitForLoad, with the address shown at
  // the finish.
  struct Load {
    bool ok;
    QString address;
  };
  std::vector<Load> loads_;
};

// A phone streaming on both links: it raises the data-seen flags more often
// than the window's ticks clear them, until it falls silent.
class StreamingPhone {
 public:
  StreamingPhone() {
    timer_.setInterval(100);
    QObject::connect(&timer_, &QTimer::timeout, [] { Send(); });
  }
  void Start() {
    Send();
    timer_.start();
  }
  void FallSilent() { timer_.stop(); }

 private:
  static void Send() {
    gState.wifiDataSeen.store(true);
    gState.bluetoothDataSeen.store(true);
  }
  QTimer timer_;
};

TEST_F(MainFormTest, StartsWithServicesThenTheWaitingPageAndDisconnectedLines) {
  EXPECT_EQ(gStartCalls, 1);
  EXPECT_TRUE(gPaneEmptyAtStart) << "services start before the pane is navigated";
  EXPECT_EQ(window_->windowTitle(), "Wendrix");
  EXPECT_EQ(window_->size(), QSize(474, 626));
  EXPECT_EQ(window_->font().pixelSize(), 11);
  const QList<QSize> iconSizes = window_->windowIcon().availableSizes();
  for (int s : {16, 32, 48, 64}) EXPECT_TRUE(iconSizes.contains(QSize(s, s))) << s;

  struct Line {
    const char* name;
    const char* text;
    QColor colour;
    bool visible;
  };
  const QColor black(0, 0, 0), brick(160, 70, 50), teal(0, 128, 128), grey(128, 128, 128);
  const Line lines[] = {
      {"redt1", "Wi-Fi:", black, true},
      {"connectionTcpWaiting", " disconnected", brick, true},
      {"connectionTcpConnected", " connected", teal, false},
      {"connectionTcpWaitingGray", " not used", grey, false},
      {"redt3", "Bluetooth:", black, true},
      {"connectionBluetoothWaiting", " disconnected", brick, true},
      {"connectionBluetoothConnected", " connected", teal, false},
      {"connectionBluetoothWaitingGray", " not used", grey, false},
  };
  EXPECT_EQ(window_->palette().color(QPalette::Window), window_->palette().color(QPalette::Button));
  for (const Line& line : lines) {
    SCOPED_TRACE(line.name);
    auto* edit = Child<QTextEdit>(line.name);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->toPlainText(), line.text);
    QTextCursor cursor(edit->document());
    cursor.setPosition(1);
    EXPECT_EQ(cursor.charFormat().foreground().color(), line.colour);
    EXPECT_EQ(cursor.charFormat().fontWeight(), QFont::Bold);
    EXPECT_EQ(edit->isVisible(), line.visible);
    EXPECT_EQ(edit->frameShape(), QFrame::NoFrame);
    EXPECT_FALSE(edit->viewport()->autoFillBackground()) << "the face colour shows through";
  }
  for (auto [name, status] : {std::pair{"redt1", "connectionTcpWaiting"},
                               std::pair{"redt3", "connectionBluetoothWaiting"}}) {
    auto* edit = Child<QTextEdit>(name);
    QFont bold = edit->font();
    bold.setBold(true);
    EXPECT_LE(edit->x() + QFontMetrics(bold).horizontalAdvance(edit->toPlainText()),
              Child<QTextEdit>(status)->x())
        << name << " is not covered by its status";
  }
  EXPECT_EQ(Child<QGroupBox>("grp1")->title(), "Connection with smartphone ");
  EXPECT_EQ(Child<QGroupBox>("Controls")->title(), "Controls");
  EXPECT_EQ(Child<QLabel>("Label6")->text(), "Steering:");
  EXPECT_EQ(Child<QLabel>("lbl4")->text(), "Gear down:");
  for (const char* name : {"ProgressBar1", "ProgressBar2", "ProgressBarFeedbackForce"}) {
    auto* bar = Child<QProgressBar>(name);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0) << name;
  }
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->geometry(), QRect(80, 28, 331, 17));
  EXPECT_FALSE(Child<QProgressBar>("ProgressBarFeedbackForce")->isVisible());
  EXPECT_TRUE(Child<QProgressBar>("ProgressBar2")->isVisible());
  for (int k = 1; k <= 8; ++k) {
    auto* box = Child<QCheckBox>(("chk" + std::to_string(k)).c_str());
    EXPECT_FALSE(box->isEnabled()) << k;
    EXPECT_FALSE(box->isChecked()) << k;
    EXPECT_TRUE(box->text().isEmpty());
  }
  EXPECT_EQ(Child<QCheckBox>("chk8")->geometry(), QRect(384, 105, 18, 17));
  EXPECT_EQ(pane_->geometry(), QRect(16, 275, 425, 276));
  auto* timer = Child<QTimer>("Timer1");
  EXPECT_EQ(timer->interval(), 500);
  EXPECT_TRUE(timer->isActive());

  WaitForLoad(Address(kWaitingPage));
}

TEST_F(MainFormTest, HelpOpensTheHelpPageOutsideAndVersionDoesNothing) {
  WaitForLoad(Address(kWaitingPage));
  auto* bar = Child<QMenuBar>("MainMenu1");
  ASSERT_EQ(bar->actions().size(), 1);
  EXPECT_EQ(bar->actions()[0]->text(), "Help");
  auto* help = Child<QMenu>("Help1");
  ASSERT_EQ(help->actions().size(), 2);
  EXPECT_EQ(help->actions()[0]->objectName(), "Help2");
  EXPECT_EQ(help->actions()[0]->text(), "Help");
  EXPECT_EQ(help->actions()[1]->objectName(), "Version501");
  EXPECT_EQ(help->actions()[1]->text(), "Version 5.1");

  Child<QAction>("Version501")->trigger();
  Child<QAction>("Help2")->trigger();
  ASSERT_EQ(browser_.opened.size(), 1) << "Version 5.1 opens nothing";
  EXPECT_EQ(browser_.opened[0].toString(), Address(kHelpPage));
  EXPECT_EQ(pane_->url().toString(), Address(kWaitingPage));
  EXPECT_FALSE(server_.requests.contains(QString::fromLatin1(kHelpPage.data())));
}

TEST_F(MainFormTest, LinksAreaOpensInTheUsersBrowserEverythingElseInThePane) {
  WaitForLoad(Address(kWaitingPage));
  QSignalSpy opened(&browser_, &UrlCatcher::Opened);

  Click("links");
  ASSERT_TRUE(opened.wait(kLoadTimeoutMs));
  EXPECT_EQ(browser_.opened.last().toString(), Address("/zodevur_app/en/links/about.php?x=1"));

  Click("blanklinks");
  ASSERT_TRUE(opened.wait(kLoadTimeoutMs)) << "a new-window link passes the same filter";
  EXPECT_EQ(browser_.opened.last().toString(), Address("/zodevur_app/en/links/blank.php"));
  EXPECT_EQ(pane_->url().toString(), Address(kWaitingPage));

  Click("capitals");
  WaitForLoad(Address("/ZODEVUR_APP/EN/LINKS/about.php"));
  Click("otherhost");
  WaitForLoad(QStringLiteral("http://localhost:%1/zodevur_app/en/links/other.php")
                  .arg(QUrl(server_.Base()).port()));
  window_->NavigateToPage(std::string(kConnectedPage) + "both");
  WaitForLoad(Address(kConnectedPage) + "both");
  Click("blankother");
  WaitForLoad(Address("/zodevur_app/en/other.php"));

  EXPECT_EQ(browser_.opened.size(), 2);
  EXPECT_FALSE(server_.requests.contains("/zodevur_app/en/links/about.php?x=1"));
  EXPECT_FALSE(server_.requests.contains("/zodevur_app/en/links/blank.php"));
}

// Windows a page opens without ever navigating them are not kept.
TEST_F(MainFormTest, NewWindowsThatNeverNavigateAreFreed) {
  WaitForLoad(Address(kWaitingPage));
  const auto windows = [&] { return pane_->page()->findChildren<QWebEnginePage*>().size(); };
  for (int i = 0; i < 5; ++i) Evaluate(QStringLiteral("window.open('', 'w%1') !== null").arg(i));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(windows(), 1) << "the last one asked for is kept, and only that";
  Evaluate(QStringLiteral("window.open('', 'last').close()"));
  ProcessEventsUntil([&] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return windows() == 0;
  });
  EXPECT_EQ(pane_->url().toString(), Address(kWaitingPage));
}

TEST_F(MainFormTest, TicksFollowTheLinksAndPaintsFollowTheState) {
  WaitForLoad(Address(kWaitingPage));
  // While the phone streams, every tick finds data on both links; however
  // long the page takes to load, no tick disconnects meanwhile.
  StreamingPhone phone;
  phone.Start();
  WaitForLoad(Address(kConnectedPage) + "both");
  EXPECT_TRUE(Child<QTextEdit>("connectionTcpConnected")->isVisible());
  EXPECT_TRUE(Child<QTextEdit>("connectionBluetoothConnected")->isVisible());
  EXPECT_FALSE(Child<QTextEdit>("connectionTcpWaiting")->isVisible());
  EXPECT_TRUE(Child<QCheckBox>("chk5")->isEnabled());

  gState.displayButtons.store(0x81);
  ReportStore(gState.report.axisX, 20480);
  RequestRepaint();
  QSignalSpy checked(Child<QCheckBox>("chk8"), &QCheckBox::toggled);
  ASSERT_TRUE(checked.wait(kLoadTimeoutMs));
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->value(), 62);
  EXPECT_TRUE(Child<QCheckBox>("chk8")->isEnabled());

  // Both links fall silent: back to the waiting page, boxes greyed but
  // still showing their marks.
  phone.FallSilent();
  WaitForLoad(Address(kWaitingPage));
  EXPECT_TRUE(Child<QTextEdit>("connectionTcpWaiting")->isVisible());
  EXPECT_FALSE(Child<QCheckBox>("chk1")->isEnabled());
  if (Child<QCheckBox>("chk1")->isChecked()) {  // the reset's repaint may still be queued
    QSignalSpy cleared(Child<QCheckBox>("chk1"), &QCheckBox::toggled);
    ASSERT_TRUE(cleared.wait(kLoadTimeoutMs));
  }
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->value(), 0);

  gState.displayButtons.store(0x05);
  RequestRepaint();
  QSignalSpy marked(Child<QCheckBox>("chk3"), &QCheckBox::toggled);
  ASSERT_TRUE(marked.wait(kLoadTimeoutMs));
  EXPECT_TRUE(Child<QCheckBox>("chk1")->isChecked());
  EXPECT_FALSE(Child<QCheckBox>("chk1")->isEnabled());
  EXPECT_FALSE(Child<QCheckBox>("chk2")->isChecked());
}

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
    return static_cast<int>(std::count_if(paints.begin(), paints.end(), [&](const Paint& p) { return p.widget == widget; }));
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

TEST_F(MainFormTest, AFloodOfRequestsFromAnotherThreadGivesOneRefresh) {
  WaitForLoad(Address(kWaitingPage));
  QCoreApplication::processEvents();
  PaintLog log(window_.get());
  QSignalSpy steering(Child<QProgressBar>("ProgressBar1"), &QProgressBar::valueChanged);
  std::thread decoder([] {
    ReportStore(gState.report.axisX, 16384);
    ReportStore(gState.report.axisY, 16384);
    for (int i = 0; i < 100000; ++i) RequestRepaint();
  });
  decoder.join();
  QSignalSpy pedals(Child<QProgressBar>("ProgressBar2"), &QProgressBar::valueChanged);
  ASSERT_TRUE(pedals.wait(kLoadTimeoutMs));
  QCoreApplication::processEvents();
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->value(), 50);
  EXPECT_EQ(Child<QProgressBar>("ProgressBar2")->value(), 50);
  EXPECT_EQ(steering.size(), 1);
  EXPECT_EQ(pedals.size(), 1);
  EXPECT_EQ(log.PaintsOf(Child<QProgressBar>("ProgressBar1")), 1);
  EXPECT_EQ(log.PaintsOf(Child<QProgressBar>("ProgressBar2")), 1);
  EXPECT_EQ(log.PaintsOf(window_.get()), 0);
}

// A phone at about 1000 messages a second for 2 s moves the bars on every
// message and presses buttons now and then: the repaints stay with the bars and the
// boxes that changed, and neither the window as a whole nor the browser
// pane is painted for them.
TEST_F(MainFormTest, AStreamRepaintsOnlyTheBarsAndBoxesThatChange) {
  WaitForLoad(Address(kWaitingPage));
  QCoreApplication::processEvents();
  PaintLog log(window_.get());
  constexpr int kRecords = 2000;
  std::atomic<bool> done{false};
  std::thread phone([&] {
    for (int i = 0; i < kRecords; ++i) {
      FramedControl control;
      control.steering = i * 16 - 16384;
      control.pedals = 16384 - (i % 500) * 64;
      control.button1 = (i / 400) % 2 ? 0x05 : 0x00;
      const std::vector<uint8_t> message = BuildFramedMessage(control);
      DecodeFramedMessage(message.data(), static_cast<int32_t>(message.size()));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    done = true;
  });
  ProcessEventsUntil([&] { return done.load(); });
  phone.join();
  auto* steering = Child<QProgressBar>("ProgressBar1");
  const int last = static_cast<int>(SteeringPosition((kRecords - 1) * 16));
  ProcessEventsUntil([&] { return steering->value() == last; });
  QCoreApplication::processEvents();

  const std::set<QObject*> changing = {steering,
                                       Child<QProgressBar>("ProgressBar2"),
                                       Child<QCheckBox>("chk1"),
                                       Child<QCheckBox>("chk3"),
                                       // the centre marks lie over the bars
                                       Child<QLabel>("Label8"),
                                       Child<QLabel>("Label9")};
  std::set<int> barPasses;
  for (const auto& p : log.paints)
    if (p.widget == steering) barPasses.insert(p.pass);
  EXPECT_GE(barPasses.size(), 2u);
  EXPECT_LE(barPasses.size(), static_cast<size_t>(kRecords));
  for (const auto& p : log.paints) {
    if (!barPasses.count(p.pass)) continue;
    EXPECT_TRUE(changing.count(p.widget)) << "painted with a bar: " << p.widget->objectName().toStdString()
                                          << " (" << p.widget->metaObject()->className() << ")";
  }
  // Unchanged boxes are left alone.
  EXPECT_EQ(log.PaintsOf(Child<QCheckBox>("chk2")), 0);
  EXPECT_GE(log.PaintsOf(Child<QCheckBox>("chk1")), 1);
  // However long the run, the window as a whole is hardly ever painted.
  EXPECT_LE(log.PaintsOf(window_.get()), 2);
  EXPECT_LE(log.PaintsOf(window_->centralWidget()), 2);
}

// The script that hands a live part to the pane carries any text intact
// into the page's engine.
TEST_F(MainFormTest, LiveScriptsCarryAnyTextIntoThePage) {
  WaitForLoad(Address(kWaitingPage));
  const std::string tricky =
      "<p class=\"ok\">a\\b \"q\" 'x'</p>\n\r\t</script><!-- \xe2\x80\xa8|\xe2\x80\xa9 \xc3\xa9 \xe2\x9c\x93 \x01\x7f";
  const QString script = QStringLiteral(
                             "(function () { var got = null, keep = window.wendrixLive;"
                             " window.wendrixLive = function (h) { got = h; }; %1;"
                             " window.wendrixLive = keep; return got; })()")
                             .arg(QString::fromStdString(LiveScript(tricky)));
  EXPECT_EQ(Evaluate(script).toString().toStdString(), tricky);
  // A page without the script's hand-over is left alone.
  EXPECT_EQ(Evaluate(QStringLiteral("(function () { var keep = window.wendrixLive; window.wendrixLive = undefined;"
                                    " %1; window.wendrixLive = keep; return 7; })()")
                         .arg(QString::fromStdString(LiveScript("x"))))
                .toInt(),
            7);
}

// Counts what the style is asked to draw: progress bars, and item texts
// (the labels' text).
class CountingStyle final : public QProxyStyle {
 public:
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    if (element == CE_ProgressBar) ++bars;
    QProxyStyle::drawControl(element, option, painter, widget);
  }
  void drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette, bool enabled,
                    const QString& text, QPalette::ColorRole role) const override {
    ++texts;
    QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, role);
  }
  mutable int bars = 0;
  mutable int texts = 0;
};

// A bar that sweeps to and fro is drawn by the style once for each value
// it shows, and the centre mark over it once in all.
TEST_F(MainFormTest, SweepingBarsDrawEachLookOnce) {
  WaitForLoad(Address(kWaitingPage));
  auto* bar = Child<QProgressBar>("ProgressBar1");
  auto* mark = Child<QLabel>("Label9");
  CountingStyle style;
  bar->setStyle(&style);
  mark->setStyle(&style);
  auto show = [&](int position) {
    window_->SetSteeringBar(position);
    QCoreApplication::sendPostedEvents(window_.get(), QEvent::UpdateRequest);
  };
  for (int sweep = 0; sweep < 3; ++sweep) {
    for (int v = 0; v <= 100; ++v) show(v);
    for (int v = 100; v >= 0; --v) show(v);
    if (sweep == 0) {
      EXPECT_EQ(style.bars, 101);
      style.bars = 0;
    }
  }
  EXPECT_EQ(style.bars, 0) << "drawn again on later sweeps";
  EXPECT_EQ(style.texts, 1) << "the centre mark's text was laid out again";
  EXPECT_EQ(bar->value(), 0);
  bar->setStyle(nullptr);
  mark->setStyle(nullptr);
}

// A bar that moves repaints only the columns that change, and the window
// then shows what a paint of the whole bar would show, centre mark and all.
TEST_F(MainFormTest, AMovingBarRepaintsOnlyTheColumnsThatChange) {
  WaitForLoad(Address(kWaitingPage));
  auto* bar = Child<QProgressBar>("ProgressBar1");
  auto show = [&](int position) {
    window_->SetSteeringBar(position);
    QCoreApplication::sendPostedEvents(window_.get(), QEvent::UpdateRequest);
  };
  show(50);
  QCoreApplication::processEvents();
  PaintLog log(window_.get());
  for (int v = 51; v <= 60; ++v) show(v);
  int barPaints = 0;
  for (const PaintLog::Paint& p : log.paints) {
    if (p.widget != bar) continue;
    ++barPaints;
    EXPECT_LE(p.area.width(), bar->width() / 10) << "a step repainted " << p.area.width() << " columns";
  }
  EXPECT_EQ(barPaints, 10);

  const QRect area(bar->mapTo(window_.get(), QPoint()), bar->size());
  for (int v : {20, 75, 74, 100, 0, 99, 1}) {
    show(v);
    const QImage shown = window_->screen()->grabWindow(window_->winId()).toImage().copy(area);
    const QImage full = window_->grab(area).toImage().convertToFormat(shown.format());
    EXPECT_EQ(shown, full) << "at " << v;
  }
}

// The pages of the program's own server, as the window is made by default.
class BuiltInPages : public MainFormTest {
 protected:
  QString PaneBase() const override { return QString::fromStdString(ServerBaseAddress()); }

  // The status code of a GET of `address` on the built-in server.
  static int StatusOf(const QUrl& address) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(address.port()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
      const std::string request = "GET " + address.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString() +
                                  " HTTP/1.1\r\nHost: " + address.authority().toStdString() + "\r\n\r\n";
      send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      char buffer[64];
      const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_WAITALL);
      if (n > 0) answer.assign(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return answer.starts_with("HTTP/1.1 ") && answer.size() >= 12 ? std::stoi(answer.substr(9, 3)) : 0;
  }
};

TEST_F(BuiltInPages, PaneShowsTheWaitingPageThenTheConnectedOneAndHelpAnswers) {
  if (!ServerBaseAddress().starts_with("http://127.0.0.1:")) GTEST_SKIP() << "built with another server";
  WaitForLoad(Address(kWaitingPage));
  EXPECT_EQ(pane_->title(), "Wendrix: waiting for a phone") << "not the built-in page";

  gState.wifiDataSeen.store(true);
  SuperviseConnections(*window_);
  WaitForLoad(Address(std::string(kConnectedPage) + "wifi"));
  EXPECT_EQ(pane_->title(), "Wendrix: connected");

  // The live part follows the process's state in place: the table the
  // page showed is still there, with the new text in it. The supervisor
  // rests meanwhile, so that the link stays as it is.
  Child<QTimer>("Timer1")->stop();
  const QString table = QStringLiteral("document.querySelector('#live table')");
  const QString text = QStringLiteral("document.getElementById('live').textContent");
  gStatus.joystick.store(JoystickState::kBusy);
  ProcessEventsUntil([&] { return Evaluate(text).toString().contains(QStringLiteral("another program holds")); });
  ASSERT_TRUE(Evaluate(table + QStringLiteral(" !== null")).toBool());
  Evaluate(table + QStringLiteral(".wendrixMark = 1"));
  gStatus.joystick.store(JoystickState::kMissing);
  ProcessEventsUntil([&] { return Evaluate(text).toString().contains(QStringLiteral("cannot be made")); });
  EXPECT_EQ(Evaluate(table + QStringLiteral(".wendrixMark")).toInt(), 1) << "the table was built anew";
  gStatus.joystick.store(JoystickState::kReady);

  Child<QAction>("Help2")->trigger();
  ASSERT_EQ(browser_.opened.size(), 1);
  EXPECT_EQ(browser_.opened[0].toString(), Address(kHelpPage));
  EXPECT_EQ(StatusOf(browser_.opened[0]), 200);
  EXPECT_EQ(StatusOf(QUrl(Address("/zodevur_app/en/links/none.php"))), 404);
  // Help's address carries the server's secret; without it, nothing is found.
  const QString root = QUrl(PaneBase()).path();
  EXPECT_EQ(root.size(), 33) << root.toStdString();
  QUrl bare = browser_.opened[0];
  bare.setPath(bare.path().mid(root.size()));
  EXPECT_EQ(bare.path(), QStringLiteral("/zodevur_app/en/links/help.php"));
  EXPECT_EQ(StatusOf(bare), 404);
}

// A link of the page that goes to the user's browser leaves the page in
// the pane as it was, set-up check included: it still follows the facts.
TEST_F(BuiltInPages, TheSetUpCheckKeepsFollowingTheFactsAfterALinkWentToTheBrowser) {
  if (!ServerBaseAddress().starts_with("http://127.0.0.1:")) GTEST_SKIP() << "built with another server";
  Child<QTimer>("Timer1")->stop();
  WaitForLoad(Address(kWaitingPage));
  const QString text = QStringLiteral("document.getElementById('live').textContent");
  ProcessEventsUntil([&] { return Evaluate(text).toString().contains(QStringLiteral("Virtual joystick")); });

  QSignalSpy finished(pane_, &QWebEngineView::loadFinished);
  Evaluate(QStringLiteral("document.querySelector('a[href^=\"links/help.php\"]').click()"));
  ProcessEventsUntil([&] { return !browser_.opened.isEmpty(); });
  EXPECT_TRUE(QUrl(browser_.opened[0]).path().endsWith(QStringLiteral("/links/help.php")));
  finished.wait(2000);  // the refused navigation ends as a failed load
  EXPECT_EQ(pane_->url().toString(), Address(kWaitingPage));

  gStatus.joystick.store(JoystickState::kBusy);
  QElapsedTimer waited;
  waited.start();
  bool shown = false;
  while (!shown && waited.elapsed() < 8000) {
    shown = Evaluate(text).toString().contains(QStringLiteral("another program holds"));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  }
  EXPECT_TRUE(shown) << "the set-up check froze: " << Evaluate(text).toString().toStdString();
  gStatus.joystick.store(JoystickState::kReady);

  // Should the window stop handing parts over, the page asks the server
  // again after a few quiet seconds.
  LocalStatusServer()->FeedLive(std::nullopt, {});
  gStatus.joystick.store(JoystickState::kMissing);
  waited.restart();
  shown = false;
  while (!shown && waited.elapsed() < 15000) {
    shown = Evaluate(text).toString().contains(QStringLiteral("cannot be made"));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  }
  EXPECT_TRUE(shown) << "the page did not ask again: " << Evaluate(text).toString().toStdString();
  gStatus.joystick.store(JoystickState::kReady);
}

}  // namespace
}  // namespace wendrix

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  wendrix::PrepareGraphics();
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

#include "MainFormTest.moc"
