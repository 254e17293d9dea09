// The browser engine pane's own: the script that hands it a live part,
// would-be windows, and a page left without hand-overs.
#include <QElapsedTimer>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "MainFormFixture.h"
#include "joystick/StatusRecord.h"
#include "status/StatusPages.h"
#include "status/StatusServer.h"
#include "ui/WebPages.h"

namespace wendrix::test {
namespace {

// The script that hands a live part to the pane carries any text intact
// into the page's engine.
TEST_F(MainFormTest, LiveScriptsCarryAnyTextIntoThePage) {
  WaitForLoad(Address(kWaitingPage));
  const std::string tricky =
      "<p class=\"ok\">a\\b \"q\" 'x'</p>\n\r\t</script><!-- \xe2\x80\xa8|\xe2\x80\xa9 \xc3\xa9 \xe2\x9c\x93 "
      "\x01\x7f";
  const QString script = QStringLiteral(
                             "(function () { var got = null, keep = window.wendrixLive;"
                             " window.wendrixLive = function (h) { got = h; }; %1;"
                             " window.wendrixLive = keep; return got; })()")
                             .arg(QString::fromStdString(LiveScript(tricky)));
  EXPECT_EQ(Evaluate(pane_, script).toString().toStdString(), tricky);
  // A page without the script's hand-over is left alone.
  EXPECT_EQ(
      Evaluate(pane_,
               QStringLiteral("(function () { var keep = window.wendrixLive; window.wendrixLive = undefined;"
                              " %1; window.wendrixLive = keep; return 7; })()")
                   .arg(QString::fromStdString(LiveScript("x"))))
          .toInt(),
      7);
}

// Windows a page opens without ever navigating them are not kept.
TEST_F(MainFormTest, NewWindowsThatNeverNavigateAreFreed) {
  WaitForLoad(Address(kWaitingPage));
  QWebEnginePage* page = pane_->findChild<QWebEngineView*>()->page();
  const auto windows = [&] { return page->findChildren<QWebEnginePage*>().size(); };
  for (int i = 0; i < 5; ++i) Evaluate(pane_, QStringLiteral("window.open('', 'w%1') !== null").arg(i));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(windows(), 1) << "the last one asked for is kept, and only that";
  Evaluate(pane_, QStringLiteral("window.open('', 'last').close()"));
  ProcessEventsUntil([&] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return windows() == 0;
  });
  EXPECT_EQ(pane_->Address().toString(), Address(kWaitingPage));
}

// Should the window stop handing parts over, the page's script asks the
// server again after a few quiet seconds.
TEST_F(BuiltInPages, APageLeftWithoutHandOversAsksTheServerAgain) {
  Child<QTimer>("Timer1")->stop();
  WaitForLoad(Address(kWaitingPage));
  ProcessEventsUntil([&] { return driver_->Text().contains(QStringLiteral("Virtual joystick")); });
  LocalStatusServer()->FeedLive(std::nullopt, {});
  const JoystickState joystick = gStatus.joystick.load();
  gStatus.joystick.store(JoystickState::kMissing);
  QElapsedTimer waited;
  waited.start();
  bool shown = false;
  while (!shown && waited.elapsed() < 15000) {
    shown = driver_->Text().contains(QStringLiteral("cannot be made"));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  }
  EXPECT_TRUE(shown) << "the page did not ask again";
  gStatus.joystick.store(joystick);
}

}  // namespace
}  // namespace wendrix::test
