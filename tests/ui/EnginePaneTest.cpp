// The browser engine pane's own: the script that hands it a live part.
#include <QWebEnginePage>
#include <QWebEngineView>

#include "MainFormFixture.h"
#include "status/StatusPages.h"
#include "ui/WebPages.h"

namespace wendrix::test {
namespace {

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
  EXPECT_EQ(Evaluate(pane_, script).toString().toStdString(), tricky);
  // A page without the script's hand-over is left alone.
  EXPECT_EQ(Evaluate(pane_, QStringLiteral("(function () { var keep = window.wendrixLive; window.wendrixLive = undefined;"
                                           " %1; window.wendrixLive = keep; return 7; })()")
                                .arg(QString::fromStdString(LiveScript("x"))))
                .toInt(),
            7);
}

}  // namespace
}  // namespace wendrix::test
