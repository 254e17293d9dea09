// Drives the window's browser pane as a user would and reads what it
// shows, for whichever pane this build has (PaneDriver_light.cpp or
// PaneDriver_webengine.cpp), so that one set of tests runs against both.
#pragma once

#include <QString>
#include <QVariant>
#include <QWidget>

#include "ui/BrowserPane.h"

namespace wendrix::test {

class PaneDriver {
 public:
  // Whether this build's pane is a browser engine.
  static const bool kBrowserEngine;

  explicit PaneDriver(TBrowserPane* pane) : pane_(pane) {}

  // Clicks the link that reads `text` in the page shown.
  void Click(const QString& text);
  // The text of the page shown.
  QString Text();
  // Marks the first table of the page, and tells whether that table is
  // still shown (rather than one built anew).
  void MarkTable();
  bool TableMarked();
  // Selects the first place where the text appears; the text selected.
  void Select(const QString& text);
  QString Selected();
  // Scrolls the page so that its top `pixels` lie above the pane; how far
  // down it is scrolled.
  void ScrollTo(int pixels);
  int ScrollPosition();

 private:
  TBrowserPane* pane_;
};

// The value of a script run in the pane's page; the browser engine's
// driver only.
QVariant Evaluate(TBrowserPane* pane, const QString& script);

}  // namespace wendrix::test
