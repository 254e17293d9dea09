#include "ui/ControlBar.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QStyleOptionProgressBar>
#include <algorithm>
#include <cmath>

#include "ui/CachedPicture.h"

namespace wendrix {

namespace {

// Screen readers see a progress bar and its value.
class TControlBarAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit TControlBarAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::ProgressBar) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return QStringLiteral("%1%").arg(Bar().value());
    return QAccessibleWidget::text(t);
  }
  QVariant currentValue() const override { return Bar().value(); }
  void setCurrentValue(const QVariant&) override {}
  QVariant maximumValue() const override { return TControlBar::maximum(); }
  QVariant minimumValue() const override { return TControlBar::minimum(); }
  QVariant minimumStepSize() const override { return 1; }

 private:
  const TControlBar& Bar() const { return *static_cast<const TControlBar*>(widget()); }
};

QAccessibleInterface* AccessibleBar(const QString& className, QObject* object) {
  if (className == QLatin1String(TControlBar::staticMetaObject.className()) && object &&
      object->isWidgetType())
    return new TControlBarAccessible(static_cast<QWidget*>(object));
  return nullptr;
}

std::vector<uint32_t> ColumnPrints(const QImage& image) {
  if (image.depth() != 32) return {};
  std::vector<uint32_t> prints(static_cast<size_t>(image.width()), 2166136261u);
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
    for (size_t x = 0; x < prints.size(); ++x) prints[x] = (prints[x] ^ row[x]) * 16777619u;
  }
  return prints;
}

}  // namespace

TControlBar::TControlBar(QWidget* parent) : QWidget(parent) {
  static const bool installed = [] {
    QAccessible::installFactory(&AccessibleBar);
    return true;
  }();
  (void)installed;
  // Opaque: its repaints leave what lies behind it alone.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QRect TControlBar::MoveTo(int position) {
  const int to = std::clamp(position, minimum(), maximum());
  const int from = value_;
  if (to == from) return {};
  value_ = to;
  emit valueChanged(to);
  if (QAccessible::isActive()) {
    QAccessibleValueChangeEvent change(this, to);
    QAccessible::updateAccessibility(&change);
  }
  return isVisible() ? ChangedColumns(from, to) : QRect();
}

// What the pictures look like besides their value changes with these;
// the window's activation too, as the style may shade an inactive one
// (a child hears of it as WindowActivate or WindowDeactivate).
bool TControlBar::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
      stale_ = true;
      update();
      break;
    case QEvent::StyleChange:
    case QEvent::PaletteChange:
    case QEvent::FontChange:
    case QEvent::EnabledChange:
    case QEvent::ActivationChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::Resize:
    case QEvent::ScreenChangeInternal:
      stale_ = true;
      break;
    default:
      break;
  }
  return QWidget::event(event);
}

void TControlBar::paintEvent(QPaintEvent*) {
  CheckGeometry();
  QPainter(this).drawPixmap(0, 0, Picture(value_));
}

void TControlBar::ForgetPictures() {
  for (QPixmapCache::Key& key : keys_) {
    QPixmapCache::remove(key);
    key = {};
  }
  for (std::vector<uint32_t>& prints : columns_) prints.clear();
  size_ = size();
  ratio_ = devicePixelRatioF();
  stale_ = false;
}

void TControlBar::CheckGeometry() {
  if (stale_ || size() != size_ || devicePixelRatioF() != ratio_) ForgetPictures();
}

QPixmap TControlBar::Picture(int shown) {
  const auto index = static_cast<size_t>(shown - minimum());
  QPixmap picture = CachedPicture(*this, keys_[index], palette().color(backgroundRole()), [&](QPainter& p) {
    QStyleOptionProgressBar option;
    option.initFrom(this);
    option.state |= QStyle::State_Horizontal;
    option.minimum = minimum();
    option.maximum = maximum();
    option.progress = shown;
    option.textAlignment = Qt::AlignLeft;
    option.textVisible = false;
    style()->drawControl(QStyle::CE_ProgressBar, &option, &p, this);
  });
  if (columns_[index].empty()) columns_[index] = ColumnPrints(picture.toImage());
  return picture;
}

// The columns, in the bar's coordinates, where the pictures of two
// positions differ, told by their fingerprints; the whole bar when the
// look changed or they cannot be compared.
QRect TControlBar::ChangedColumns(int from, int to) {
  if (stale_) return rect();
  const std::vector<uint32_t>& before = columns_[static_cast<size_t>(from - minimum())];
  const std::vector<uint32_t>& after = columns_[static_cast<size_t>(to - minimum())];
  if (before.empty()) Picture(from);
  if (after.empty()) Picture(to);
  if (before.empty() || before.size() != after.size()) return rect();
  const auto left = std::mismatch(before.begin(), before.end(), after.begin()).first;
  if (left == before.end()) return {};
  const auto last = std::mismatch(before.rbegin(), before.rend(), after.rbegin()).first;
  const int start = static_cast<int>(std::floor(static_cast<double>(left - before.begin()) / ratio_));
  const int end = static_cast<int>(std::ceil(static_cast<double>(before.rend() - last) / ratio_));
  return QRect(start, 0, end - start, height());
}

}  // namespace wendrix
