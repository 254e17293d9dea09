// The connection supervisor: every 500 ms it turns the data-seen flags of
// the two links into link states and acts on the changes. Window thread only.
#pragma once

#include <string_view>

namespace wendrix {

// Visible of the six status controls, in the order they are set.
struct StatusControls {
  bool connectionTcpWaiting = false;
  bool connectionTcpWaitingGray = false;
  bool connectionBluetoothWaiting = false;
  bool connectionBluetoothWaitingGray = false;
  bool connectionTcpConnected = false;
  bool connectionBluetoothConnected = false;
  bool operator==(const StatusControls&) const = default;
};

// The status controls shown for the two link states.
StatusControls StatusRow(bool wifiActive, bool bluetoothActive);

// What a tick does to the main window.
class SupervisedWindow {
 public:
  virtual ~SupervisedWindow() = default;
  // Enabled of chk1 ... chk8, in that order.
  virtual void SetButtonBoxesEnabled(bool enabled) = 0;
  virtual void ShowStatusControls(const StatusControls& visible) = 0;
  // Loads the server base address followed by pathAndQuery in the pane,
  // even when the pane already shows it.
  virtual void NavigateToPage(std::string_view pathAndQuery) = 0;
  // Asks for a later paint of the window; never blocks.
  virtual void RepaintMainWindow() = 0;
  // The discovery announcement on every interface, through udpClient.
  virtual void Announce();
};

// One tick. Each data-seen flag is read and cleared with one exchange at
// the start, so a message arriving during the tick counts for the next.
void SuperviseConnections(SupervisedWindow& window);

}  // namespace wendrix
