// The light pane: its QTextBrowser, clicked with the mouse.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>

#include "PaneDriver.h"

namespace wendrix::test {

namespace {

QTextBrowser* View(TBrowserPane* pane) { return pane->findChild<QTextBrowser*>(); }

QTextTable* FirstTable(QTextDocument* document) {
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
    if (QTextTable* table = QTextCursor(block).currentTable()) return table;
  return nullptr;
}

}  // namespace

const bool PaneDriver::kBrowserEngine = false;

void PaneDriver::Click(const QString& text) {
  QTextBrowser* view = View(pane_);
  for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
    // A link may lie in several fragments with the same address.
    int start = -1;
    QString href;
    QString shown;
    for (auto it = block.begin();; ++it) {
      const QTextFragment fragment = it.atEnd() ? QTextFragment() : it.fragment();
      const QString next = fragment.isValid() ? fragment.charFormat().anchorHref() : QString();
      if (next != href || !fragment.isValid()) {
        if (!href.isEmpty() && shown == text) {
          QTextCursor cursor(view->document());
          cursor.setPosition(start);
          view->setTextCursor(cursor);
          view->ensureCursorVisible();
          // The middle of the link's first character.
          const QPoint before = view->cursorRect(cursor).center();
          cursor.setPosition(start + 1);
          const QPoint after = view->cursorRect(cursor).center();
          // As a user does: onto the link, then a click.
          QTest::mouseMove(view->viewport(), (before + after) / 2);
          QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, (before + after) / 2);
          return;
        }
        href = next;
        start = fragment.isValid() ? fragment.position() : -1;
        shown.clear();
      }
      if (!fragment.isValid()) break;
      shown += fragment.text();
    }
  }
  ADD_FAILURE() << "no link " << text.toStdString();
}

QString PaneDriver::Text() { return View(pane_)->toPlainText(); }

void PaneDriver::MarkTable() {
  if (QTextTable* table = FirstTable(View(pane_)->document())) table->setProperty("wendrixMark", 1);
}

bool PaneDriver::TableMarked() {
  QTextTable* table = FirstTable(View(pane_)->document());
  return table && table->property("wendrixMark").toInt() == 1;
}

void PaneDriver::Select(const QString& text) {
  QTextBrowser* view = View(pane_);
  view->setTextCursor(view->document()->find(text));
}

QString PaneDriver::Selected() { return View(pane_)->textCursor().selectedText(); }

void PaneDriver::ScrollTo(int pixels) { View(pane_)->verticalScrollBar()->setValue(pixels); }

int PaneDriver::ScrollPosition() { return View(pane_)->verticalScrollBar()->value(); }

}  // namespace wendrix::test
