// What Qt itself costs to show a moving bar: a window with one bar-sized
// widget that repaints a strip of 4 columns N times a second from a kept
// picture, nothing else, until it is killed: the floor under the
// program's own window at that refresh rate. bench/window-cpu --floor
// reads its CPU time as it reads the program's.
//   bench_repaint_floor RATE
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

namespace {

class Strip final : public QWidget {
 public:
  explicit Strip(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    for (int k = 0; k < 2; ++k) {
      pictures_[k] = QPixmap(331, 17);
      pictures_[k].fill(k ? Qt::darkGreen : Qt::lightGray);
    }
  }
  void Step() {
    ++step_;
    repaint(QRect((step_ * 3) % 327, 0, 4, height()));
  }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).drawPixmap(0, 0, pictures_[step_ & 1]); }

 private:
  int step_ = 0;
  QPixmap pictures_[2];
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s RATE\n", argv[0]);
    return 2;
  }
  const double rate = std::atof(argv[1]);
  QWidget window;
  window.resize(474, 626);
  auto* strip = new Strip(&window);
  strip->setGeometry(80, 28, 331, 17);
  window.show();
  QTimer frame;
  frame.setTimerType(Qt::PreciseTimer);
  QObject::connect(&frame, &QTimer::timeout, strip, &Strip::Step);
  frame.start(static_cast<int>(1000 / rate));
  return QApplication::exec();
}
