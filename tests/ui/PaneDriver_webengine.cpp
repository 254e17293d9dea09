// The browser engine pane: its page, driven by script.
#include <QCoreApplication>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "PaneDriver.h"

namespace wendrix::test {

QVariant Evaluate(TBrowserPane* pane, const QString& script) {
  QVariant value;
  bool done = false;
  pane->findChild<QWebEngineView*>()->page()->runJavaScript(script, [&](const QVariant& v) {
    value = v;
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  return value;
}

namespace {

QString Quoted(const QString& text) {
  QString quoted = text;
  quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
  return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

}  // namespace

const bool PaneDriver::kBrowserEngine = true;

void PaneDriver::Click(const QString& text) {
  Evaluate(pane_, QStringLiteral("(function (text) {"
                                 "  var links = document.getElementsByTagName('a');"
                                 "  for (var i = 0; i < links.length; i++)"
                                 "    if (links[i].textContent === text) { links[i].click(); return; }"
                                 "})(%1)")
                      .arg(Quoted(text)));
}

QString PaneDriver::Text() { return Evaluate(pane_, QStringLiteral("document.body.innerText")).toString(); }

void PaneDriver::MarkTable() {
  Evaluate(pane_, QStringLiteral("document.querySelector('table').wendrixMark = 1"));
}

bool PaneDriver::TableMarked() {
  return Evaluate(pane_, QStringLiteral("(document.querySelector('table') || {}).wendrixMark === 1"))
      .toBool();
}

void PaneDriver::Select(const QString& text) {
  Evaluate(pane_,
           QStringLiteral("(function (text) {"
                          "  var walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);"
                          "  for (var node; (node = walker.nextNode());) {"
                          "    var at = node.nodeValue.indexOf(text);"
                          "    if (at < 0) continue;"
                          "    var range = document.createRange();"
                          "    range.setStart(node, at);"
                          "    range.setEnd(node, at + text.length);"
                          "    window.getSelection().removeAllRanges();"
                          "    window.getSelection().addRange(range);"
                          "    return;"
                          "  }"
                          "})(%1)")
               .arg(Quoted(text)));
}

QString PaneDriver::Selected() {
  return Evaluate(pane_, QStringLiteral("window.getSelection().toString()")).toString();
}

void PaneDriver::ScrollTo(int pixels) {
  Evaluate(pane_, QStringLiteral("window.scrollTo(0, %1)").arg(pixels));
}

int PaneDriver::ScrollPosition() {
  return Evaluate(pane_, QStringLiteral("Math.round(window.scrollY)")).toInt();
}

}  // namespace wendrix::test
