#include "ui/Supervisor.h"

#include <atomic>
#include <mutex>
#include <string>

#include "decode/LegacyDecoder.h"
#include "joystick/ControlState.h"
#include "joystick/Joystick.h"
#include "joystick/StatusRecord.h"
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
  // The decoders hold legacyLock from their first report write to their
  // push, so the idle axes never reach the driver mixed with a message's.
  // The tick does not wait: a decoder at work right now leaves the axes to
  // its message, which also marks the link as alive for the next tick.
  if (std::unique_lock lock(legacyLock, std::try_to_lock); lock.owns_lock()) {
    ReportStore(gState.report.axisX, 0);
    ReportStore(gState.report.axisY, 32768);
  }
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

// Follows one link's activity; true when it has just become active.
bool FollowLink(std::atomic<bool>& active, const std::atomic<bool>& other, bool seen) {
  if (active.load(kRelaxed) == seen) return false;
  active.store(seen, kRelaxed);
  gState.statusChanged.store(true, kRelaxed);
  // The sequence filter runs only while both links are active.
  gState.sequenceCheck.store(seen && other.load(kRelaxed), kRelaxed);
  return seen;
}

// Keeps the time a link became active for the status pages; 0 while idle.
void ShowActiveSince(std::atomic<int64_t>& since, bool active) {
  if (!active)
    since.store(0, kRelaxed);
  else if (since.load(kRelaxed) == 0)
    since.store(WallClockMilliseconds(), kRelaxed);
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

  FollowLink(gState.wifiActive, gState.bluetoothActive, wifiSeen);
  if (FollowLink(gState.bluetoothActive, gState.wifiActive, bluetoothSeen)) window.RepaintMainWindow();
  ShowActiveSince(gStatus.wifiSince, gState.wifiActive.load(kRelaxed));
  ShowActiveSince(gStatus.bluetoothSince, gState.bluetoothActive.load(kRelaxed));

  if (!gState.statusChanged.load(kRelaxed)) return;
  gState.statusChanged.store(false, kRelaxed);
  window.ShowStatusControls(
      StatusRow(gState.wifiActive.load(kRelaxed), gState.bluetoothActive.load(kRelaxed)));
  // pageChanged is never cleared: after the first connect or disconnect
  // every status refresh also moves the pane.
  if (gState.pageChanged.load(kRelaxed)) window.NavigateToPage(StatusPage());
}

}  // namespace wendrix
