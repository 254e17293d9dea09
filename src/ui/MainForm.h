// The program's only window: status lines, controls, browser pane, menu.
// Its logic lives in the core (Supervisor, ControlDisplay); the window holds
// the components and forwards its events.
#pragma once

#include <QMainWindow>
#include <QUrl>
#include <array>
#include <cstdint>
#include <string>

#include "status/ServerBase.h"
#include "ui/ControlDisplay.h"
#include "ui/Supervisor.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QMenu;
class QTextEdit;
class QTimer;

namespace wendrix {

class TBrowserPane;
class TControlBar;

// What the window is made with; tests replace the defaults.
struct MainFormSetup {
  std::string serverBase = ServerBaseAddress();
  // Run first by FormCreate; the program's entry hands in the service start.
  void (*startServices)() = nullptr;
  // Hands the pane's status pages their live parts; none: the pages fetch them.
  StatusServer* liveFeed = LocalStatusServer();
};

class TMainForm final : public QMainWindow, public SupervisedWindow, public ControlDisplayView {
  Q_OBJECT

 public:
  explicit TMainForm(MainFormSetup setup = {});
  ~TMainForm() override;

  // SupervisedWindow
  void SetButtonBoxesEnabled(bool enabled) override;
  void ShowStatusControls(const StatusControls& visible) override;
  void NavigateToPage(std::string_view pathAndQuery) override;
  void RepaintMainWindow() override;

  // ControlDisplayView
  void SetSteeringBar(int position) override;
  void SetPedalsBar(int position) override;
  void SetFeedbackForceBar(int position) override;
  void SetButtonBoxChecked(int index, bool checked) override;
  // Brings the bars and boxes up to the shared values; the bars paint what
  // changed at once.
  void ShowControls();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void CreateComponents();
  void FormCreate();
  void FormPaint();
  void Timer1Timer();
  void Help2Click();
  void WebBrowser1BeforeNavigate2(const QUrl& url, bool& cancel);
  void FeedPane(const QUrl& shown);
  void MoveBar(TControlBar* bar, int position);

  MainFormSetup setup_;
  QGroupBox* grp1 = nullptr;
  QTextEdit* redt1 = nullptr;
  QTextEdit* connectionTcpWaiting = nullptr;
  QTextEdit* connectionTcpConnected = nullptr;
  QTextEdit* connectionTcpWaitingGray = nullptr;
  QTextEdit* redt3 = nullptr;
  QTextEdit* connectionBluetoothWaiting = nullptr;
  QTextEdit* connectionBluetoothConnected = nullptr;
  QTextEdit* connectionBluetoothWaitingGray = nullptr;
  QGroupBox* Controls = nullptr;
  TControlBar* ProgressBar1 = nullptr;
  TControlBar* ProgressBar2 = nullptr;
  TControlBar* ProgressBarFeedbackForce = nullptr;
  std::array<QCheckBox*, 8> chk{};  // chk1 ... chk8
  TBrowserPane* WebBrowser1 = nullptr;
  QTimer* Timer1 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* Help2 = nullptr;
  QAction* Version501 = nullptr;
  uint64_t paneFeed_ = 0;
};

}  // namespace wendrix
