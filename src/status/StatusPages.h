// The page server's answers: the status pages, their live parts, the help
// page, rendered from a snapshot of the status record.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "joystick/StatusRecord.h"
#include "status/HttpRequest.h"
#include "status/SystemFacts.h"

namespace wendrix {

struct LinkFigures {
  bool active = false;
  int64_t since = 0;  // milliseconds since 1970, 0 when not active
  uint64_t messages = 0;
  double perSecond = 0;
};

struct StatusSnapshot {
  struct Address {
    uint32_t address = 0;  // network order
    uint32_t broadcast = 0;
    SendResult lastSend = SendResult::kNotTried;
  };
  SystemFacts system;
  std::vector<Address> announced;
  uint32_t announcePasses = 0;
  ListenerState tcp = ListenerState::kStarting;
  ListenerState udp = ListenerState::kStarting;
  BluetoothState bluetooth = BluetoothState::kStarting;
  int bluetoothChannel = 0;
  JoystickState joystick = JoystickState::kStarting;
  bool connected = false;
  LinkFigures wifi;
  LinkFigures bluetoothLink;
  uint32_t wifiPeer = 0;  // network order
  uint16_t wifiPeerPort = 0;
  uint64_t bluetoothPeer = 0;
  std::string bluetoothPeerName;  // as the Bluetooth service knows the phone; may be empty
  int64_t now = 0;
};

// Messages per second of one counter, averaged over the last few seconds
// (samples at least a second apart). The figure moves only when the
// average leaves a small band around it, so that a steady stream shows a
// steady number and the page showing it is not redrawn for nothing.
class MessageRate {
 public:
  double Sample(uint64_t count, int64_t nowMs);

 private:
  struct Point {
    uint64_t count = 0;
    int64_t time = 0;
  };
  void Restart(Point point);

  static constexpr size_t kPoints = 6;  // five seconds between the oldest and the newest
  std::array<Point, kPoints> points_{};
  size_t size_ = 0;
  size_t newest_ = 0;
  bool moving_ = false;  // the last second had messages
  double shown_ = 0;
};

// Reads gStatus and the link state once; the rates advance with each call.
StatusSnapshot TakeSnapshot(SystemFacts system, MessageRate& wifiRate, MessageRate& bluetoothRate);

std::string Ipv4Text(uint32_t networkOrder);
std::string BluetoothAddressText(uint64_t address);

// The live parts, as HTML fragments.
std::string RenderWaitingLive(const StatusSnapshot& status);
std::string RenderConnectedLive(const StatusSnapshot& status);

enum class LivePart { kWaiting, kConnected };

// Where the live parts come from; the server takes a fresh snapshot.
class LiveSource {
 public:
  virtual ~LiveSource() = default;
  virtual std::string Render(LivePart part) = 0;
};

// A live part is answered with its tag in the header "X-Live-Tag"; a
// request that names the tag of what the page shows already ("since") is
// one the server may hold until the part changes.
std::string LiveTag(std::string_view html);
std::string LiveAnswer(const std::string& html, bool withBody);
// The page with what its element of id "live" (a div) holds replaced by
// `live`; none when the page has no such element or it does not end.
std::optional<std::string> ReplaceLivePart(std::string_view page, std::string_view live);
// A script that hands the live part and its tag to a page shown in the
// window, through the page script's window.wendrixLive; nothing on other
// pages.
std::string LiveScript(std::string_view html);
struct LiveWait {
  LivePart part;
  std::string since;
};
// The wait a GET of live.php with "since" asks for; none for any other request.
std::optional<LiveWait> WaitingLiveRequest(const HttpRequest& request, uint16_t port, std::string_view root);

// The whole response (status line, headers and, except for HEAD, the
// body) to a parsed request, for a server listening on 127.0.0.1:port
// whose pages all lie under the path `root` ("/" and a secret, or empty).
// A path outside it is not found, whatever follows.
std::string AnswerRequest(const HttpRequest& request, uint16_t port, std::string_view root, LiveSource& live);
// The response for a request that failed to parse, or was cut off.
std::string ErrorResponse(int status);

}  // namespace wendrix
