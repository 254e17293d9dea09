// The window offscreen, its browser pane against pages served on 127.0.0.1.
#include "MainFormFixture.h"

#include <QAbstractEventDispatcher>
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QProxyStyle>
#include <QScreen>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "decode/FramedDecoder.h"
#include "joystick/Repaint.h"
#include "joystick/StatusRecord.h"
#include "protocol/Protocol.h"
#include "status/StatusPages.h"
#include "ui/ControlBar.h"
#include "ui/ControlDisplay.h"
#include "ui/GraphicsSetup.h"
#include "ui/WebPages.h"

namespace wendrix::test {
namespace {

int gStartCalls = 0;
bool gPaneEmptyAtStart = false;

void FakeStartServices() {
  ++gStartCalls;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (auto* pane = top->findChild<TBrowserPane*>(QStringLiteral("WebBrowser1")))
      gPaneEmptyAtStart = pane->Address().isEmpty();
}

}  // namespace

void MainFormTest::SetUp() {
  ResetProcessState();
  ReportStore(gState.report.axisY, 32768);  // as the acquisition leaves it
  gStartCalls = 0;
  MainFormSetup setup;
  setup.serverBase = PaneBase().toStdString();
  setup.startServices = &FakeStartServices;
  window_ = std::make_unique<TMainForm>(setup);
  pane_ = Child<TBrowserPane>("WebBrowser1");
  driver_ = std::make_unique<PaneDriver>(pane_);
  QObject::connect(pane_, &TBrowserPane::Shown, pane_, [this](const QUrl& address, bool ok) {
    loads_.push_back({ok, address.toString()});
  });
  window_->show();
}

int BuiltInPages::StatusOf(const QUrl& address) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(address.port()));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
    const std::string request = "GET " +
                                address.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString() +
                                " HTTP/1.1\r\nHost: " + address.authority().toStdString() + "\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[64];
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_WAITALL);
    if (n > 0) answer.assign(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return answer.starts_with("HTTP/1.1 ") && answer.size() >= 12 ? std::stoi(answer.substr(9, 3)) : 0;
}

namespace {

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
  for (auto [name, status] :
       {std::pair{"redt1", "connectionTcpWaiting"}, std::pair{"redt3", "connectionBluetoothWaiting"}}) {
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
    auto* bar = Child<TControlBar>(name);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0) << name;
  }
  EXPECT_EQ(Child<TControlBar>("ProgressBar1")->geometry(), QRect(80, 28, 331, 17));
  EXPECT_FALSE(Child<TControlBar>("ProgressBarFeedbackForce")->isVisible());
  EXPECT_TRUE(Child<TControlBar>("ProgressBar2")->isVisible());
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
  EXPECT_EQ(pane_->Address().toString(), Address(kWaitingPage));
  EXPECT_FALSE(server_.requests.contains(QString::fromLatin1(kHelpPage.data())));
}

TEST_F(MainFormTest, LinksAreaOpensInTheUsersBrowserEverythingElseInThePane) {
  WaitForLoad(Address(kWaitingPage));
  driver_->Click(QStringLiteral("links"));
  ASSERT_TRUE(WaitForOpened(1));
  EXPECT_EQ(browser_.opened.last().toString(), Address("/zodevur_app/en/links/about.php?x=1"));

  driver_->Click(QStringLiteral("new"));
  ASSERT_TRUE(WaitForOpened(2)) << "a new-window link passes the same filter";
  EXPECT_EQ(browser_.opened.last().toString(), Address("/zodevur_app/en/links/blank.php"));
  // An address relative to the page shown is filtered as the full address.
  driver_->Click(QStringLiteral("relative"));
  ASSERT_TRUE(WaitForOpened(3));
  EXPECT_EQ(browser_.opened.last().toString(), Address("/zodevur_app/en/links/relative.php"));
  EXPECT_EQ(pane_->Address().toString(), Address(kWaitingPage));

  driver_->Click(QStringLiteral("capitals"));
  WaitForLoad(Address("/ZODEVUR_APP/EN/LINKS/about.php"));
  driver_->Click(QStringLiteral("other host"));
  WaitForLoad(
      QStringLiteral("http://localhost:%1/zodevur_app/en/links/other.php").arg(QUrl(server_.Base()).port()));
  window_->NavigateToPage(std::string(kConnectedPage) + "both");
  WaitForLoad(Address(kConnectedPage) + "both");
  driver_->Click(QStringLiteral("new other"));
  WaitForLoad(Address("/zodevur_app/en/other.php"));
  EXPECT_EQ(pane_->Title(), "/zodevur_app/en/other.php");

  EXPECT_EQ(browser_.opened.size(), 3);
  for (const char* diverted : {"/zodevur_app/en/links/about.php?x=1", "/zodevur_app/en/links/blank.php",
                               "/zodevur_app/en/links/relative.php"})
    EXPECT_FALSE(server_.requests.contains(QString::fromLatin1(diverted))) << diverted;
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
  EXPECT_EQ(Child<TControlBar>("ProgressBar1")->value(), 62);
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
  EXPECT_EQ(Child<TControlBar>("ProgressBar1")->value(), 0);

  gState.displayButtons.store(0x05);
  RequestRepaint();
  QSignalSpy marked(Child<QCheckBox>("chk3"), &QCheckBox::toggled);
  ASSERT_TRUE(marked.wait(kLoadTimeoutMs));
  EXPECT_TRUE(Child<QCheckBox>("chk1")->isChecked());
  EXPECT_FALSE(Child<QCheckBox>("chk1")->isEnabled());
  EXPECT_FALSE(Child<QCheckBox>("chk2")->isChecked());
}

TEST_F(MainFormTest, AFloodOfRequestsFromAnotherThreadGivesOneRefresh) {
  WaitForLoad(Address(kWaitingPage));
  QCoreApplication::processEvents();
  PaintLog log(window_.get());
  QSignalSpy steering(Child<TControlBar>("ProgressBar1"), &TControlBar::valueChanged);
  std::thread decoder([] {
    ReportStore(gState.report.axisX, 16384);
    ReportStore(gState.report.axisY, 16384);
    for (int i = 0; i < 100000; ++i) RequestRepaint();
  });
  decoder.join();
  QSignalSpy pedals(Child<TControlBar>("ProgressBar2"), &TControlBar::valueChanged);
  ASSERT_TRUE(pedals.wait(kLoadTimeoutMs));
  QCoreApplication::processEvents();
  EXPECT_EQ(Child<TControlBar>("ProgressBar1")->value(), 50);
  EXPECT_EQ(Child<TControlBar>("ProgressBar2")->value(), 50);
  EXPECT_EQ(steering.size(), 1);
  EXPECT_EQ(pedals.size(), 1);
  EXPECT_EQ(log.PaintsOf(Child<TControlBar>("ProgressBar1")), 1);
  EXPECT_EQ(log.PaintsOf(Child<TControlBar>("ProgressBar2")), 1);
  EXPECT_EQ(log.PaintsOf(window_.get()), 0);
}

// A phone at about 1000 messages a second for 2 s moves the bars on every
// message and presses buttons now and then: the repaints stay with the bars and the
// boxes that changed, and neither the window as a whole nor the browser
// pane is painted for them.
TEST_F(MainFormTest, AStreamRepaintsOnlyTheBarsAndBoxesThatChange) {
  WaitForLoad(Address(kWaitingPage));
  // The pane's own paints after its load, late on a busy machine, are not
  // the stream's: wait for three quiet turns of 100 ms in a row (5 s at most).
  for (int quiet = 0, turns = 0; quiet < 3 && turns < 50; ++turns) {
    PaintLog settling(window_.get());
    QElapsedTimer turn;
    turn.start();
    while (turn.elapsed() < 100) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    quiet = settling.paints.empty() ? quiet + 1 : 0;
  }
  PaintLog log(window_.get());
  QElapsedTimer streaming;
  streaming.start();
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
  auto* steering = Child<TControlBar>("ProgressBar1");
  const int last = static_cast<int>(SteeringPosition((kRecords - 1) * 16));
  ProcessEventsUntil([&] { return steering->value() == last; });
  QCoreApplication::processEvents();

  const std::set<QObject*> changing = {steering, Child<TControlBar>("ProgressBar2"), Child<QCheckBox>("chk1"),
                                       Child<QCheckBox>("chk3"),
                                       // the centre marks lie over the bars
                                       Child<QLabel>("Label8"), Child<QLabel>("Label9")};
  std::set<int> barPasses;
  for (const auto& p : log.paints)
    if (p.widget == steering) barPasses.insert(p.pass);
  EXPECT_GE(barPasses.size(), 2u);
  // At most 30 refreshes a second, however fast the phone sends.
  const auto mostRefreshes = static_cast<size_t>(streaming.elapsed() * 30 / 1000 + 2);
  EXPECT_LE(barPasses.size(), mostRefreshes) << "in " << streaming.elapsed() << " ms";
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

// Puts the steering bar at `position` and paints it now. The steering value
// says the same, so that a refresh of the controls the window runs
// meanwhile (after a paint of its own) leaves the bar there.
void ShowSteering(TMainForm& window, int position) {
  ReportStore(gState.report.axisX, (position * 32768 + 50) / 100);
  window.ShowControls();
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
  auto* bar = Child<TControlBar>("ProgressBar1");
  auto* mark = Child<QLabel>("Label9");
  CountingStyle style;
  bar->setStyle(&style);
  mark->setStyle(&style);
  auto show = [&](int position) { ShowSteering(*window_, position); };
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

// The style may draw the controls of an inactive window otherwise: the
// kept pictures of the bars and of the centre marks are drawn again when
// the window loses or regains activation.
TEST_F(MainFormTest, BarsAndMarksAreDrawnAgainWhenTheWindowGainsOrLosesActivation) {
  WaitForLoad(Address(kWaitingPage));
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  auto* bar = Child<TControlBar>("ProgressBar1");
  auto* mark = Child<QLabel>("Label9");
  CountingStyle style;
  bar->setStyle(&style);
  mark->setStyle(&style);
  for (int v = 0; v <= 100; ++v) ShowSteering(*window_, v);
  QWidget other;
  other.setGeometry(0, 0, 50, 50);
  other.show();
  for (QWidget* active : {&other, static_cast<QWidget*>(window_.get())}) {
    style.bars = 0;
    style.texts = 0;
    active->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(active));
    ASSERT_EQ(window_->isActiveWindow(), active == window_.get());
    // Across the middle, where the mark lies over the bar.
    for (int v : {40, 60, 40}) ShowSteering(*window_, v);
    EXPECT_GE(style.bars, 2) << "kept bar pictures shown, window active: " << window_->isActiveWindow();
    EXPECT_GE(style.texts, 1) << "kept mark picture shown, window active: " << window_->isActiveWindow();
  }
  bar->setStyle(nullptr);
  mark->setStyle(nullptr);
}

// A bar that moves repaints only the columns that change, and the window
// then shows what a paint of the whole bar would show, centre mark and all.
TEST_F(MainFormTest, AMovingBarRepaintsOnlyTheColumnsThatChange) {
  WaitForLoad(Address(kWaitingPage));
  auto* bar = Child<TControlBar>("ProgressBar1");
  auto show = [&](int position) { ShowSteering(*window_, position); };
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

// Screen readers find each bar as a progress bar with its name and value.
TEST_F(MainFormTest, BarsAreProgressBarsToAssistiveTechnology) {
  WaitForLoad(Address(kWaitingPage));
  ShowSteering(*window_, 37);

  QAccessibleInterface* steering = QAccessible::queryAccessibleInterface(Child<TControlBar>("ProgressBar1"));
  ASSERT_NE(steering, nullptr);
  EXPECT_EQ(steering->role(), QAccessible::ProgressBar);
  EXPECT_EQ(steering->text(QAccessible::Name), "Steering");
  ASSERT_NE(steering->valueInterface(), nullptr);
  EXPECT_EQ(steering->valueInterface()->currentValue().toInt(), 37);
  EXPECT_EQ(steering->valueInterface()->maximumValue().toInt(), 100);
  EXPECT_EQ(
      QAccessible::queryAccessibleInterface(Child<TControlBar>("ProgressBar2"))->text(QAccessible::Name),
      "Pedals");
}

TEST_F(BuiltInPages, PaneShowsTheWaitingPageThenTheConnectedOneAndHelpAnswers) {
  WaitForLoad(Address(kWaitingPage));
  EXPECT_EQ(pane_->Title(), "Wendrix: waiting for a phone") << "not the built-in page";
  EXPECT_TRUE(driver_->Text().contains(QStringLiteral("Set-up check")));

  gState.wifiDataSeen.store(true);
  SuperviseConnections(*window_);
  WaitForLoad(Address(std::string(kConnectedPage) + "wifi"));
  EXPECT_EQ(pane_->Title(), "Wendrix: connected");

  // The live part follows the process's state in place: the table the
  // page showed is still there, with the new text in it. The supervisor
  // rests meanwhile, so that the link stays as it is.
  Child<QTimer>("Timer1")->stop();
  gStatus.joystick.store(JoystickState::kBusy);
  ProcessEventsUntil([&] { return driver_->Text().contains(QStringLiteral("another program holds")); });
  driver_->MarkTable();
  gStatus.joystick.store(JoystickState::kMissing);
  ProcessEventsUntil([&] { return driver_->Text().contains(QStringLiteral("cannot be made")); });
  EXPECT_TRUE(driver_->TableMarked()) << "the table was built anew";
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

// The live part follows the page the pane shows: a link the filter sends
// to the user's browser leaves the page, and its live part, as they are.
// Changes to the part keep the reader's place and selection.
TEST_F(BuiltInPages, TheLivePartFollowsThePageShownPastADivertedLink) {
  Child<QTimer>("Timer1")->stop();
  WaitForLoad(Address(kWaitingPage));
  ProcessEventsUntil([&] { return driver_->Text().contains(QStringLiteral("Virtual joystick")); });
  driver_->Click(QStringLiteral("Help"));
  ASSERT_TRUE(WaitForOpened(1));
  EXPECT_EQ(browser_.opened.last().toString(), Address(kHelpPage));
  EXPECT_EQ(pane_->Address().toString(), Address(kWaitingPage));

  const JoystickState joystick = gStatus.joystick.load();
  const ListenerState udp = gStatus.udpListener.load();
  gStatus.joystick.store(JoystickState::kBusy);
  ProcessEventsUntil(
      [&] { return driver_->Text().contains(QStringLiteral("another program holds device 1")); });

  driver_->MarkTable();
  driver_->Select(QStringLiteral("Set-up check"));
  // Short of the end, which a page grown shorter would move.
  driver_->ScrollTo(100);
  const int scrolled = driver_->ScrollPosition();
  EXPECT_EQ(scrolled, 100) << "the page fits the pane: nothing to keep";
  gStatus.udpListener.store(ListenerState::kPortBusy);
  ProcessEventsUntil([&] {
    return driver_->Text().contains(
        QStringLiteral("another program holds port 41503; retrying every second"));
  });
  EXPECT_TRUE(driver_->TableMarked()) << "the table was built anew";
  EXPECT_EQ(driver_->Selected(), QStringLiteral("Set-up check"));
  EXPECT_EQ(driver_->ScrollPosition(), scrolled);
  EXPECT_EQ(browser_.opened.size(), 1);
  gStatus.joystick.store(joystick);
  gStatus.udpListener.store(udp);
}

// Whether a library whose name holds `name` is mapped into this process.
bool Mapped(const char* name) {
  QFile maps(QStringLiteral("/proc/self/maps"));
  if (!maps.open(QIODevice::ReadOnly)) {
    ADD_FAILURE() << "cannot read /proc/self/maps";
    return false;
  }
  return maps.readAll().contains(name);
}

// The light pane's build runs no browser engine: none of its libraries is
// even mapped once the pane shows a page.
TEST_F(BuiltInPages, ABrowserEngineIsLoadedOnlyInItsOwnBuild) {
  WaitForLoad(Address(kWaitingPage));
  EXPECT_EQ(Mapped("libQt6WebEngineCore"), PaneDriver::kBrowserEngine);
  EXPECT_EQ(Mapped("libQt6Quick"), PaneDriver::kBrowserEngine);
}

}  // namespace
}  // namespace wendrix::test

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  wendrix::PrepareGraphics();
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
