// The control display's bars: 0 to 100, drawn as the style draws a
// progress bar, from a picture of each position kept once drawn. Moving a
// bar costs a comparison of two kept column fingerprints, and its repaint
// a copy of the few columns that differ.
#pragma once

#include <QPixmapCache>
#include <QRect>
#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

namespace wendrix {

class TControlBar final : public QWidget {
  Q_OBJECT

 public:
  explicit TControlBar(QWidget* parent = nullptr);

  static constexpr int minimum() { return 0; }
  static constexpr int maximum() { return 100; }
  int value() const { return value_; }

  // Puts the bar at `position`, clamped to 0 to 100, without painting it.
  // Returns the part of the bar whose pixels differ between the two
  // positions, in the bar's coordinates: empty when none.
  QRect MoveTo(int position);
  // Puts the bar there and asks for the paint of what changed.
  void setValue(int position) { update(MoveTo(position)); }

 signals:
  void valueChanged(int value);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  static constexpr size_t kPositions = 101;

  void ForgetPictures();
  // Forgets the pictures when the size or the pixel ratio they were drawn
  // at is no longer the bar's.
  void CheckGeometry();
  QPixmap Picture(int shown);
  QRect ChangedColumns(int from, int to);

  int value_ = 0;
  bool stale_ = true;
  QSize size_;
  qreal ratio_ = 0;
  std::array<QPixmapCache::Key, kPositions> keys_{};
  // A fingerprint of each column of device pixels of each picture drawn.
  std::array<std::vector<uint32_t>, kPositions> columns_{};
};

}  // namespace wendrix
