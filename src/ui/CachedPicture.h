// Pictures of widgets drawn once and kept in the application's pixmap
// cache, for widgets that show the same few looks again and again.
#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QSize>
#include <QStyle>
#include <QWidget>

namespace wendrix {

// What a cached picture of a widget depends on besides its content.
struct Look {
  QSize size;
  qreal ratio = 0;
  uint state = 0;
  qint64 palette = 0;
  const QStyle* style = nullptr;
  QFont font;
  bool operator==(const Look&) const = default;
};

inline Look LookOf(const QWidget& widget, uint state) {
  return {widget.size(), widget.devicePixelRatioF(), state, widget.palette().cacheKey(), widget.style(),
          widget.font()};
}

// A picture of the widget's size filled by `draw`, or the one drawn
// before for the same key while the application's pixmap cache keeps it.
template <typename Draw>
QPixmap CachedPicture(const QWidget& widget, QPixmapCache::Key& key, const QColor& fill, Draw draw) {
  QPixmap picture;
  if (QPixmapCache::find(key, &picture)) return picture;
  const qreal ratio = widget.devicePixelRatioF();
  picture = QPixmap(widget.size() * ratio);
  picture.setDevicePixelRatio(ratio);
  picture.fill(fill);
  QPainter painter(&picture);
  draw(painter);
  painter.end();
  key = QPixmapCache::insert(picture);
  return picture;
}

}  // namespace wendrix
