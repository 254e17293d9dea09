#include "ui/MainForm.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QScreen>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <initializer_list>
#include <utility>
#include <vector>

#include "joystick/Repaint.h"
#include "status/StatusServer.h"
#include "ui/BrowserPane.h"
#include "ui/CachedPicture.h"
#include "ui/ControlBar.h"
#include "ui/WebPages.h"

namespace wendrix {

namespace {

QEvent::Type RepaintEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

// Turns the repaint requests into refreshes of the controls on the window
// thread, at most one per display frame and 30 a second. A request to a resting relay is
// posted to it and refreshed at once, or when a frame has passed since the
// last refresh; from then on the relay ticks once a frame and takes the
// requests made meanwhile itself, so that a stream costs one wake-up a
// frame and none per message. A frame without requests puts it to rest.
// It is never freed: a decoder thread may still post to it while the
// window goes away.
class RepaintRelay final : public QObject {
 public:
  RepaintRelay() {
    frame_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&frame_, &QTimer::timeout, this, [this] { Tick(); });
  }

  TMainForm* window = nullptr;

  // Any thread: whether the relay takes requests without being told.
  bool Ticking() const { return ticking_.load(std::memory_order_seq_cst); }

  bool event(QEvent* e) override {
    if (e->type() != RepaintEventType()) return QObject::event(e);
    if (frame_.isActive()) return true;
    ticking_.store(true, std::memory_order_seq_cst);
    const qint64 waitNs = last_.isValid() ? FrameNs() - last_.nsecsElapsed() : 0;
    if (waitNs > 0)
      frame_.start(Ms(waitNs));
    else
      Tick();
    return true;
  }

 private:
  // The time between two refreshes: one frame of the window's screen, and
  // at least 1/30 s. Each refresh wakes the window thread and sends the
  // changed columns to the display; at 30 a second the bars still follow
  // a hand smoothly, for half the cost of 60.
  qint64 FrameNs() const {
    constexpr qreal kMostPerSecond = 30;
    const QScreen* screen = window ? window->screen() : nullptr;
    const qreal hz = screen && screen->refreshRate() >= 1 ? screen->refreshRate() : 60;
    return static_cast<qint64>(1e9 / std::min(hz, kMostPerSecond));
  }

  static int Ms(qint64 ns) { return static_cast<int>((ns + 999999) / 1000000); }

  // Runs once a frame while requests come, on a timer that repeats rather
  // than one started anew each frame.
  void Tick() {
    if (!TakeRepaintRequest()) {
      // Resting, unless a request came in before the decoders could see it.
      ticking_.store(false, std::memory_order_seq_cst);
      if (!TakeRepaintRequest()) {
        frame_.stop();
        return;
      }
      ticking_.store(true, std::memory_order_seq_cst);
    }
    last_.start();
    if (window) window->ShowControls();
    const int frame = Ms(FrameNs());
    if (!frame_.isActive() || frame_.interval() != frame) frame_.start(frame);
  }

  QTimer frame_;
  QElapsedTimer last_;
  std::atomic<bool> ticking_{false};
};

RepaintRelay& Relay() {
  static auto* relay = new RepaintRelay;
  return *relay;
}

// Any thread; called once per run of requests by the core. A ticking relay
// takes the request at its next frame.
void PostRepaint(void* context) {
  auto* relay = static_cast<RepaintRelay*>(context);
  if (relay->Ticking()) return;
  QCoreApplication::postEvent(relay, new QEvent(RepaintEventType()));
}

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

template <typename Label = QLabel>
QLabel* AddLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* label = Named(new Label(QString::fromUtf8(text), parent), name);
  label->move(left, top);
  label->adjustSize();
  return label;
}

// A label drawn once into a transparent picture: the centre marks lie over
// the bars and are painted again with them, and laying out their text each
// time costs more than the bars themselves.
class TCachedLabel final : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent*) override {
    // The palette's colours follow the window's activation as well.
    const Look look = LookOf(*this, (isEnabled() ? 1u : 0u) | (isActiveWindow() ? 2u : 0u));
    if (look != look_ || text() != text_) {
      QPixmapCache::remove(key_);
      key_ = {};
      look_ = look;
      text_ = text();
    }
    const QPixmap picture = CachedPicture(*this, key_, Qt::transparent, [&](QPainter& p) {
      p.setFont(font());
      style()->drawItemText(&p, contentsRect(), QStyle::visualAlignment(layoutDirection(), alignment()),
                            palette(), isEnabled(), text(), foregroundRole());
    });
    QPainter(this).drawPixmap(0, 0, picture);
  }

 private:
  Look look_;
  QString text_;
  QPixmapCache::Key key_;
};

TControlBar* AddBar(QWidget* parent, const char* name, const char* accessibleName, QRect bounds) {
  auto* bar = Named(new TControlBar(parent), name);
  bar->setGeometry(bounds);
  bar->setAccessibleName(QString::fromLatin1(accessibleName));
  return bar;
}

// A borderless one-line rich-text control that lets the face colour behind
// it show through, so that a name and its status read as one line.
QTextEdit* AddTextLine(QWidget* parent, const char* name, QRect bounds, bool visible) {
  auto* line = Named(new QTextEdit(parent), name);
  line->setGeometry(bounds);
  line->setFrameShape(QFrame::NoFrame);
  line->viewport()->setAutoFillBackground(false);
  line->setReadOnly(true);
  line->setTextInteractionFlags(Qt::NoTextInteraction);
  line->setFocusPolicy(Qt::NoFocus);
  line->setLineWrapMode(QTextEdit::NoWrap);
  line->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  line->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  line->document()->setDocumentMargin(1);
  line->setVisible(visible);
  return line;
}

// The desktop's font may be wider than the one the bounds were made for:
// the statuses move right, all by the same amount, as far as needed to keep
// the names before them whole.
void KeepNamesWhole(std::initializer_list<std::pair<QTextEdit*, const char*>> names,
                    std::initializer_list<QTextEdit*> statuses) {
  int shift = 0;
  for (auto [name, text] : names) {
    QFont bold = name->font();
    bold.setBold(true);
    const int margin = static_cast<int>(name->document()->documentMargin());
    const int end =
        name->x() + 2 * margin + QFontMetrics(bold).horizontalAdvance(QString::fromLatin1(text)) + 1;
    if (name->x() + name->width() < end) name->resize(end - name->x(), name->height());
    for (QTextEdit* status : statuses) shift = std::max(shift, end - status->x());
  }
  for (QTextEdit* status : statuses) status->move(status->x() + shift, status->y());
}

// Clears the line and inserts the text, bold, in the colour.
void WriteTextLine(QTextEdit* line, const char* text, QColor colour) {
  line->clear();
  line->setTextColor(colour);
  line->setFontWeight(QFont::Bold);
  line->insertPlainText(QString::fromLatin1(text));
}

constexpr char kWifiName[] = "Wi-Fi:";
constexpr char kBluetoothName[] = "Bluetooth:";
const QColor kBlack(0, 0, 0);
const QColor kBrickRed(160, 70, 50);
const QColor kTeal(0, 128, 128);
const QColor kGrey(128, 128, 128);

}  // namespace

TMainForm::TMainForm(MainFormSetup setup) : setup_(std::move(setup)) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Wendrix"));
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addFile(QStringLiteral(":/icons/wendrix-%1.png").arg(size));
  setWindowIcon(icon);
  move(349, 131);
  resize(474, 626);
  // The desktop's sans-serif at the height of an 8-point font at 96 dpi.
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPixelSize(11);
  setFont(font);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  setPalette(palette);

  CreateComponents();

  Relay().window = this;
  InstallRepaintHook(&PostRepaint, &Relay());

  FormCreate();
}

TMainForm::~TMainForm() {
  if (setup_.liveFeed) setup_.liveFeed->FeedLive(std::nullopt, {});
  InstallRepaintHook(nullptr, nullptr);
  if (Relay().window == this) Relay().window = nullptr;
}

void TMainForm::CreateComponents() {
  auto* client = new QWidget(this);
  setCentralWidget(client);

  grp1 = Named(new QGroupBox(QStringLiteral("Connection with smartphone "), client), "grp1");
  grp1->setGeometry(16, 16, 425, 88);
  redt1 = AddTextLine(grp1, "redt1", {13, 27, 60, 17}, true);
  connectionTcpWaiting = AddTextLine(grp1, "connectionTcpWaiting", {75, 27, 236, 17}, true);
  connectionTcpConnected = AddTextLine(grp1, "connectionTcpConnected", {75, 27, 236, 17}, false);
  connectionTcpWaitingGray = AddTextLine(grp1, "connectionTcpWaitingGray", {75, 27, 236, 17}, false);
  redt3 = AddTextLine(grp1, "redt3", {13, 53, 68, 17}, true);
  connectionBluetoothWaiting = AddTextLine(grp1, "connectionBluetoothWaiting", {75, 53, 212, 17}, true);
  connectionBluetoothConnected = AddTextLine(grp1, "connectionBluetoothConnected", {75, 53, 212, 17}, false);
  connectionBluetoothWaitingGray =
      AddTextLine(grp1, "connectionBluetoothWaitingGray", {75, 53, 212, 17}, false);
  KeepNamesWhole({{redt1, kWifiName}, {redt3, kBluetoothName}},
                 {connectionTcpWaiting, connectionTcpConnected, connectionTcpWaitingGray,
                  connectionBluetoothWaiting, connectionBluetoothConnected, connectionBluetoothWaitingGray});

  Controls = Named(new QGroupBox(QStringLiteral("Controls"), client), "Controls");
  Controls->setGeometry(16, 119, 425, 139);
  AddLabel(Controls, "Label6", "Steering:", 13, 28);
  ProgressBar1 = AddBar(Controls, "ProgressBar1", "Steering", {80, 28, 331, 17});
  AddLabel(Controls, "Label7", "Pedals:", 13, 67);
  ProgressBar2 = AddBar(Controls, "ProgressBar2", "Pedals", {80, 67, 331, 17});
  AddLabel(Controls, "lbl3", "Gear up:", 13, 106);
  AddLabel(Controls, "lbl4", "Gear down:", 85, 106);
  AddLabel(Controls, "lbl5", "Buttons:", 173, 106);
  static constexpr int kBoxLeft[8] = {63, 151, 224, 256, 288, 320, 352, 384};
  for (int k = 0; k < 8; ++k) {
    const QByteArray name = "chk" + QByteArray::number(k + 1);
    chk[k] = Named(new QCheckBox(Controls), name.constData());
    chk[k]->setGeometry(kBoxLeft[k], 105, 18, 17);
    chk[k]->setEnabled(false);
    chk[k]->setAutoFillBackground(true);
  }
  // Over the middle of each bar.
  AddLabel<TCachedLabel>(Controls, "Label9", "|", 240, 20)->raise();
  AddLabel<TCachedLabel>(Controls, "Label8", "|", 241, 59)->raise();

  ProgressBarFeedbackForce =
      AddBar(client, "ProgressBarFeedbackForce", "Feedback force", {112, 225, 318, 17});
  ProgressBarFeedbackForce->hide();

  WebBrowser1 =
      Named(TBrowserPane::Create(
                [this](const QUrl& url, bool& cancel) { WebBrowser1BeforeNavigate2(url, cancel); }, client),
            "WebBrowser1");
  WebBrowser1->setGeometry(16, 275, 425, 276);
  connect(WebBrowser1, &TBrowserPane::Shown, this, [this](const QUrl& shown) { FeedPane(shown); });

  Timer1 = Named(new QTimer(this), "Timer1");
  Timer1->setInterval(500);
  connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
  Timer1->start();

  menuBar()->setObjectName(QStringLiteral("MainMenu1"));
  Help1 = Named(menuBar()->addMenu(QStringLiteral("Help")), "Help1");
  Help2 = Named(Help1->addAction(QStringLiteral("Help")), "Help2");
  connect(Help2, &QAction::triggered, this, &TMainForm::Help2Click);
  Version501 = Named(Help1->addAction(QStringLiteral("Version 5.1")), "Version501");
}

void TMainForm::FormCreate() {
  if (setup_.startServices) setup_.startServices();
  NavigateToPage(kWaitingPage);
  WriteTextLine(redt1, kWifiName, kBlack);
  WriteTextLine(connectionTcpWaiting, " disconnected", kBrickRed);
  WriteTextLine(connectionTcpConnected, " connected", kTeal);
  WriteTextLine(connectionTcpWaitingGray, " not used", kGrey);
  WriteTextLine(redt3, kBluetoothName, kBlack);
  WriteTextLine(connectionBluetoothWaiting, " disconnected", kBrickRed);
  WriteTextLine(connectionBluetoothConnected, " connected", kTeal);
  WriteTextLine(connectionBluetoothWaitingGray, " not used", kGrey);
}

void TMainForm::paintEvent(QPaintEvent* event) {
  QMainWindow::paintEvent(event);
  FormPaint();
}

// The controls are brought up to date at the next frame, outside the paint.
void TMainForm::FormPaint() { RequestRepaint(); }

void TMainForm::Timer1Timer() { SuperviseConnections(*this); }

void TMainForm::Help2Click() {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(PageAddress(setup_.serverBase, kHelpPage))));
}

// Addresses in the links area open in the user's web browser, not here.
void TMainForm::WebBrowser1BeforeNavigate2(const QUrl& url, bool& cancel) {
  const QByteArray address = url.toEncoded();
  if (!IsLinksAddress(std::string_view(address.constData(), static_cast<size_t>(address.size())),
                      setup_.serverBase))
    return;
  cancel = true;
  WebBrowser1->Stop();
  QDesktopServices::openUrl(url);
}

// A status page shown in the pane gets its live part handed to it when it
// changes, so it asks the server for nothing. The feed follows the page the
// pane shows: each page shown starts it afresh, and a navigation that shows
// none (one the links filter cancels) leaves it running. A part meant for a
// page no longer shown is dropped.
void TMainForm::FeedPane(const QUrl& shown) {
  if (!setup_.liveFeed) return;
  const QByteArray address = shown.toEncoded();
  const std::optional<LivePart> part = LivePartShown(
      std::string_view(address.constData(), static_cast<size_t>(address.size())), setup_.serverBase);
  paneFeed_ = setup_.liveFeed->FeedLive(part, [this](uint64_t feed, const std::string& html) {
    QMetaObject::invokeMethod(
        this,
        [this, feed, html] {
          if (feed == paneFeed_) WebBrowser1->ShowLive(html);
        },
        Qt::QueuedConnection);
  });
}

void TMainForm::SetButtonBoxesEnabled(bool enabled) {
  for (QCheckBox* box : chk) box->setEnabled(enabled);
}

void TMainForm::ShowStatusControls(const StatusControls& visible) {
  connectionTcpWaiting->setVisible(visible.connectionTcpWaiting);
  connectionTcpWaitingGray->setVisible(visible.connectionTcpWaitingGray);
  connectionBluetoothWaiting->setVisible(visible.connectionBluetoothWaiting);
  connectionBluetoothWaitingGray->setVisible(visible.connectionBluetoothWaitingGray);
  connectionTcpConnected->setVisible(visible.connectionTcpConnected);
  connectionBluetoothConnected->setVisible(visible.connectionBluetoothConnected);
}

void TMainForm::NavigateToPage(std::string_view pathAndQuery) {
  WebBrowser1->Navigate(QUrl(QString::fromStdString(PageAddress(setup_.serverBase, pathAndQuery))));
}

void TMainForm::RepaintMainWindow() { RequestRepaint(); }

void TMainForm::ShowControls() { RefreshControls(*this); }

// A bar that moved paints the columns that changed at once, in a pass of
// its own. A paint asked for instead would be posted to the window thread,
// and the post wakes its event loop for one more turn: dearer than a second
// pass when two bars move.
void TMainForm::MoveBar(TControlBar* bar, int position) { bar->repaint(bar->MoveTo(position)); }

void TMainForm::SetSteeringBar(int position) { MoveBar(ProgressBar1, position); }
void TMainForm::SetPedalsBar(int position) { MoveBar(ProgressBar2, position); }
void TMainForm::SetFeedbackForceBar(int position) { MoveBar(ProgressBarFeedbackForce, position); }
void TMainForm::SetButtonBoxChecked(int index, bool checked) {
  chk.at(static_cast<size_t>(index))->setChecked(checked);
}

}  // namespace wendrix
