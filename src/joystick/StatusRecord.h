// What the services report about themselves for the status pages. The
// services write it as they go, each field with one relaxed store or
// counter increment; the page server only reads it. A reader may see one
// field newer than another, which the pages tolerate.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

namespace wendrix {

enum class ListenerState : uint8_t {
  kStarting,  // no attempt yet
  kListening,
  kPortBusy,  // another socket holds the port; retrying
  kFailed,    // the socket could not be made or bound for another reason; retrying
};

enum class BluetoothState : uint8_t {
  kStarting,
  kRegistered,    // listening on bluetoothChannel, record published
  kNoBluetooth,   // the system has no Bluetooth sockets
  kNoAdapter,     // no radio to listen on
  kNoBluez,       // the record could not reach BlueZ (not running, no system bus)
  kRefused,       // BlueZ refused the record
  kAcceptFailed,  // accepting failed; a new pass follows
};

enum class JoystickState : uint8_t {
  kStarting,
  kReady,
  kBusy,     // another program holds device 1
  kMissing,  // the driver cannot make the device (no uinput access)
  kFailed,   // acquiring or the last update failed for another reason
};

enum class SendResult : uint8_t { kNotTried, kSent, kFailed };

// One address the announcements go out from; addresses in network order.
struct AnnouncedAddress {
  std::atomic<uint32_t> address{0};
  std::atomic<uint32_t> broadcast{0};
  std::atomic<SendResult> lastSend{SendResult::kNotTried};
};

inline constexpr size_t kMaxAnnouncedAddresses = 100;

struct StatusRecord {
  std::atomic<ListenerState> tcpListener{ListenerState::kStarting};
  std::atomic<ListenerState> udpListener{ListenerState::kStarting};

  std::atomic<BluetoothState> bluetooth{BluetoothState::kStarting};
  std::atomic<uint8_t> bluetoothChannel{0};

  std::atomic<JoystickState> joystick{JoystickState::kStarting};

  // The addresses of the last announcement pass, and how many passes ran.
  std::array<AnnouncedAddress, kMaxAnnouncedAddresses> announced{};
  std::atomic<uint32_t> announcedCount{0};
  std::atomic<uint32_t> announcePasses{0};

  // Messages taken per link since start: datagrams, frames or legacy records.
  std::atomic<uint64_t> wifiMessages{0};
  std::atomic<uint64_t> bluetoothMessages{0};

  // The latest phone: IPv4 address (network order) and port for Wi-Fi, the
  // radio address (6 bytes, as the socket gives it) for Bluetooth; 0 none.
  std::atomic<uint32_t> wifiPeerAddress{0};
  std::atomic<uint16_t> wifiPeerPort{0};
  std::atomic<uint64_t> bluetoothPeer{0};

  // When each link became active, in milliseconds since 1970; 0 while not.
  std::atomic<int64_t> wifiSince{0};
  std::atomic<int64_t> bluetoothSince{0};
};

extern StatusRecord gStatus;

// Counts `count` messages on a link; lock-free and without allocation.
inline void CountWifiMessages(uint64_t count) {
  gStatus.wifiMessages.fetch_add(count, std::memory_order_relaxed);
}
inline void CountBluetoothMessages(uint64_t count) {
  gStatus.bluetoothMessages.fetch_add(count, std::memory_order_relaxed);
}

// A Wi-Fi phone: IPv4 address (network order) and port.
struct WifiPeer {
  uint32_t address = 0;
  uint16_t port = 0;
};

// Names the Wi-Fi phone that delivered data last. Called per message: an
// unchanged peer costs two loads and no store.
inline void ShowWifiPeer(WifiPeer peer) {
  if (gStatus.wifiPeerAddress.load(std::memory_order_relaxed) != peer.address)
    gStatus.wifiPeerAddress.store(peer.address, std::memory_order_relaxed);
  if (gStatus.wifiPeerPort.load(std::memory_order_relaxed) != peer.port)
    gStatus.wifiPeerPort.store(peer.port, std::memory_order_relaxed);
}

// Names the Bluetooth phone (its radio address) that delivered data last;
// as cheap as ShowWifiPeer when unchanged.
inline void ShowBluetoothPeer(uint64_t radio) {
  if (gStatus.bluetoothPeer.load(std::memory_order_relaxed) != radio)
    gStatus.bluetoothPeer.store(radio, std::memory_order_relaxed);
}

// The phone at the other end of a stream session: a Wi-Fi phone's address
// and port, or a Bluetooth phone's radio address; neither when the socket
// did not tell.
struct SessionPeer {
  std::optional<WifiPeer> wifi;
  uint64_t radio = 0;

  // Names it on its link's row, once its stream delivers data.
  void Show() const {
    if (wifi)
      ShowWifiPeer(*wifi);
    else if (radio != 0)
      ShowBluetoothPeer(radio);
  }
};

// Milliseconds since 1970 by the system clock.
int64_t WallClockMilliseconds();

}  // namespace wendrix
