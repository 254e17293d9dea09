#include "ui/Supervisor.h"

#include <string>

#include "joystick/ControlState.h"
#include "joystick/Joystick.h"
#include "link/UdpClient.h"
#include "ui/WebPages.h"

namespace wendrix {

StatusControls StatusRow(bool wifiActive, bool bluetoothActive) {
  StatusControls row;
  if (wifiActive && bluetoothActive) {
    row.connectionTcpConnected = row.connectionBluetoothConnected = true;
  } else if (wifiActive) {
    row.connectionTcpConnected = row.connectionBluetoothWaitingGray = true;
  } else if (bluetoothActive) {
    row.connectionTcpWaitingGray = row.connectionBluetoothConnected = true;
  } else {
    row.connectionTcpWaiting = row.connectionBluetoothWaiting = true;
  }
  return row;
}

void SupervisedWindow::Announce() {
  if (TUdpClient* client = gState.udpClient.load(kRelaxed)) client->AnnounceOnAllInterfaces();
}

namespace {

void Disconnect(SupervisedWindow& window) {
  window.SetButtonBoxesEnabled(false);
  // Only what the window shows goes back to idle; the report's buttons keep
  // their value and nothing is pushed, so the driver keeps the last report.
  ReportStore(gState.report.axisX, 0);
  ReportStore(gState.report.axisY, 32768);
  gState.feedbackForce.store(-10000, kRelaxed);
  gState.displayButtons.store(0, kRelaxed);
  gState.statusChanged.store(true, kRelaxed);
  gState.pageChanged.store(true, kRelaxed);
  window.RepaintMainWindow();
  gState.connected.store(false, kRelaxed);
}

void Connect(SupervisedWindow& window) {
  window.SetButtonBoxesEnabled(true);
  gState.pageChanged.store(true, kRelaxed);
  gState.statusChanged.store(true, kRelaxed);
  gState.connected.store(true, kRelaxed);
}

void FollowWifi(bool seen) {
  const bool active = gState.wifiActive.load(kRelaxed);
  if (!active && seen) {
    gState.wifiActive.store(true, kRelaxed);
    gState.statusChanged.store(true, kRelaxed);
    gState.sequenceCheck.store(gState.bluetoothActive.load(kRelaxed), kRelaxed);
  } else if (active && !seen) {
    gState.wifiActive.store(false, kRelaxed);
    gState.sequenceCheck.store(false, kRelaxed);
    gState.statusChanged.store(true, kRelaxed);
  }
}

void FollowBluetooth(SupervisedWindow& window, bool seen) {
  const bool active = gState.bluetoothActive.load(kRelaxed);
  if (!active && seen) {
    gState.bluetoothActive.store(true, kRelaxed);
    gState.statusChanged.store(true, kRelaxed);
    gState.sequenceCheck.store(gState.wifiActive.load(kRelaxed), kRelaxed);
    window.RepaintMainWindow();
  } else if (active && !seen) {
    gState.bluetoothActive.store(false, kRelaxed);
    gState.statusChanged.store(true, kRelaxed);
    gState.sequenceCheck.store(false, kRelaxed);
  }
}

std::string StatusPage() {
  if (!gState.connected.load(kRelaxed)) return std::string(kWaitingPage);
  const bool wifi = gState.wifiActive.load(kRelaxed);
  const bool bluetooth = gState.bluetoothActive.load(kRelaxed);
  const char* type = !bluetooth ? "wifi" : wifi ? "both" : "bluetooth";
  return std::string(kConnectedPage) + type;
}

}  // namespace

void SuperviseConnections(SupervisedWindow& window) {
  const bool wifiSeen = gState.wifiDataSeen.exchange(false, kRelaxed);
  const bool bluetoothSeen = gState.bluetoothDataSeen.exchange(false, kRelaxed);

  if (!gState.connected.load(kRelaxed)) window.Announce();
  if (gState.driverFailed.load(kRelaxed)) ReacquireJoystick();

  const bool connected = gState.connected.load(kRelaxed);
  if (connected && !wifiSeen && !bluetoothSeen)
    Disconnect(window);
  else if (!connected && (wifiSeen || bluetoothSeen))
    Connect(window);

  FollowWifi(wifiSeen);
  FollowBluetooth(window, bluetoothSeen);

  if (!gState.statusChanged.load(kRelaxed)) return;
  gState.statusChanged.store(false, kRelaxed);
  window.ShowStatusControls(
      StatusRow(gState.wifiActive.load(kRelaxed), gState.bluetoothActive.load(kRelaxed)));
  // pageChanged is never cleared: after the first connect or disconnect
  // every status refresh also moves the pane.
  if (gState.pageChanged.load(kRelaxed)) window.NavigateToPage(StatusPage());
}

}  // namespace wendrix
