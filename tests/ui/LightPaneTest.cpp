// The light pane's own: style sheets, what a live change repaints, pages
// that cannot be had, a stopped load.
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTimer>
#include <string_view>

#include "../status/Snapshots.h"
#include "MainFormFixture.h"
#include "joystick/StatusRecord.h"
#include "status/StatusPages.h"
#include "status/StatusServer.h"
#include "ui/WebPages.h"

namespace wendrix::test {
namespace {

QTextBrowser* View(TBrowserPane* pane) { return pane->findChild<QTextBrowser*>(); }

// The format of the first character of the text in the page shown.
QTextCharFormat FormatOf(TBrowserPane* pane, const QString& text) {
  QTextCursor found = View(pane)->document()->find(text);
  EXPECT_FALSE(found.isNull()) << text.toStdString();
  found.setPosition(found.selectionStart() + 1);
  return found.charFormat();
}

// The page's style sheet is fetched from its server and applied.
TEST_F(BuiltInPages, PagesAreShownWithTheirStyleSheet) {
  WaitForLoad(Address(kWaitingPage));
  EXPECT_EQ(FormatOf(pane_, QStringLiteral("Waiting for your phone")).foreground().color(),
            QColor(0xb0, 0x6a, 0x00));
  EXPECT_EQ(FormatOf(pane_, QStringLiteral("Virtual joystick")).fontWeight(), QFont::Bold);
}

// A change of one fact repaints the rows around it, not the whole pane,
// and nothing else in the window.
TEST_F(BuiltInPages, ALiveChangeRepaintsLittleOfThePane) {
  Child<QTimer>("Timer1")->stop();
  WaitForLoad(Address(kWaitingPage));
  ProcessEventsUntil([&] { return driver_->Text().contains(QStringLiteral("Virtual joystick")); });
  QCoreApplication::processEvents();
  QWidget* viewport = View(pane_)->viewport();
  const JoystickState joystick = gStatus.joystick.load();
  PaintLog log(window_.get());
  gStatus.joystick.store(joystick == JoystickState::kBusy ? JoystickState::kMissing : JoystickState::kBusy);
  const QString now = joystick == JoystickState::kBusy ? QStringLiteral("cannot be made")
                                                       : QStringLiteral("another program holds device 1");
  ProcessEventsUntil([&] { return driver_->Text().contains(now); });
  QCoreApplication::processEvents();
  gStatus.joystick.store(joystick);
  // The scroll bar, and what lies under it, may follow a page grown longer.
  const QWidget* bar = View(pane_)->verticalScrollBar()->parentWidget();
  const QRect barArea(bar->mapTo(window_.get(), QPoint()), bar->size());
  int painted = 0;
  for (const PaintLog::Paint& p : log.paints) {
    auto* widget = static_cast<QWidget*>(p.widget);
    if (widget == viewport) {
      painted = std::max(painted, p.area.height());
      continue;
    }
    const QRect area(widget->mapTo(window_.get(), p.area.topLeft()), p.area.size());
    EXPECT_TRUE(barArea.contains(area)) << "painted: " << widget->objectName().toStdString() << " ("
                                        << widget->metaObject()->className() << ")";
  }
  EXPECT_GT(painted, 0);
  EXPECT_LT(painted, viewport->height() / 2) << "a change of one row repainted most of the pane";
}

// A page patched for long is replaced by a fresh rendering now and then:
// its formats stay bounded, and the reader keeps place and selection, on
// text below the row that changes too.
TEST_F(BuiltInPages, ALongPatchedPageIsRenewedKeepingPlaceAndSelection) {
  Child<QTimer>("Timer1")->stop();
  WaitForLoad(Address(kWaitingPage));
  ProcessEventsUntil([&] { return driver_->Text().contains(QStringLiteral("Virtual joystick")); });
  LocalStatusServer()->FeedLive(std::nullopt, {});  // the test hands the parts over now
  StatusSnapshot busy = test::HealthySnapshot();
  busy.joystick = JoystickState::kBusy;
  const std::string calm = RenderWaitingLive(test::HealthySnapshot());
  const std::string troubled = RenderWaitingLive(busy);
  pane_->ShowLive(calm);
  driver_->ScrollTo(100);
  QTextBrowser* view = View(pane_);
  for (const char* selected : {"Set-up check", "Firewall"}) {
    SCOPED_TRACE(selected);
    // The firewall's row lies below the joystick's, which changes length.
    const QTextCursor found = view->document()->find(
        QString::fromLatin1(selected), 0, QTextDocument::FindCaseSensitively | QTextDocument::FindWholeWords);
    ASSERT_FALSE(found.isNull());
    if (selected == std::string_view("Firewall")) {
      ASSERT_GT(found.selectionStart(),
                view->document()->find(QStringLiteral("Virtual joystick")).selectionEnd());
    }
    view->setTextCursor(found);
    const QPointer<QTextDocument> first = view->document();
    for (int i = 0; i < 300 && first; ++i) {
      pane_->ShowLive(troubled);
      EXPECT_EQ(driver_->Selected().toStdString(), selected) << "after " << i << " changes";
      pane_->ShowLive(calm);
      EXPECT_LT(view->document()->allFormats().size(), 1000) << "after " << i << " changes";
    }
    EXPECT_TRUE(first.isNull()) << "never renewed";
    EXPECT_EQ(driver_->Selected().toStdString(), selected);
  }
  EXPECT_EQ(driver_->ScrollPosition(), 100);
  EXPECT_TRUE(driver_->Text().contains(QStringLiteral("racing-pc")));
}

// An address that answers nothing shows a message in the pane, which
// counts as a page shown, though not a good one.
TEST_F(MainFormTest, PagesThatCannotBeHadShowWhy) {
  WaitForLoad(Address(kWaitingPage));
  const QUrl nowhere(QStringLiteral("http://127.0.0.1:1/zodevur_app/en/waiting.php"));
  QSignalSpy shown(pane_, &TBrowserPane::Shown);
  pane_->Navigate(nowhere);
  ASSERT_TRUE(shown.wait(kLoadTimeoutMs));
  EXPECT_EQ(shown.last().at(0).toUrl(), nowhere);
  EXPECT_FALSE(shown.last().at(1).toBool());
  EXPECT_EQ(pane_->Address(), nowhere);
  EXPECT_TRUE(driver_->Text().contains(QStringLiteral("The page cannot be shown")));
}

// A stopped load shows nothing; the page shown stays.
TEST_F(MainFormTest, AStoppedLoadShowsNothing) {
  WaitForLoad(Address(kWaitingPage));
  QSignalSpy shown(pane_, &TBrowserPane::Shown);
  pane_->Navigate(QUrl(Address("/zodevur_app/en/other.php")));
  pane_->Stop();
  EXPECT_FALSE(shown.wait(1000));
  EXPECT_EQ(pane_->Address().toString(), Address(kWaitingPage));
  EXPECT_TRUE(driver_->Text().contains(QStringLiteral("links")));
}

}  // namespace
}  // namespace wendrix::test
