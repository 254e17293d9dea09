#include "status/StatusPages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "joystick/ControlState.h"
#include "link/Strings.h"
#include "status/BluetoothNames.h"
#include "status/PageFiles.h"

namespace wendrix {

namespace {

constexpr std::string_view kPagePrefix = "/zodevur_app/en/";

std::string WholeNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", value);
  return text;
}

std::string Span(const char* kind, std::string_view text) {
  return std::string("<span class=\"") + kind + "\">" + std::string(text) + "</span>";
}

std::string Row(std::string_view name, std::string_view value) {
  return "<tr><th>" + std::string(name) + "</th><td>" + std::string(value) + "</td></tr>\n";
}

struct Problem {
  std::string what;
  std::string fix;
};

std::string ListenerText(ListenerState state) {
  switch (state) {
    case ListenerState::kListening:
      return Span("ok", "listening");
    case ListenerState::kPortBusy:
      return Span("bad", "another program holds port 41503; retrying every second");
    case ListenerState::kFailed:
      return Span("bad", "cannot listen; retrying every second");
    case ListenerState::kStarting:
      break;
  }
  return Span("wait", "starting");
}

std::string BluetoothText(const StatusSnapshot& s) {
  switch (s.bluetooth) {
    case BluetoothState::kRegistered:
      if (s.system.bluetoothAdapters == 0) return Span("warn", "registered, but no adapter is present");
      return Span("ok", "registered on channel " + std::to_string(s.bluetoothChannel));
    case BluetoothState::kNoBluetooth:
      return Span("warn", "this system has no Bluetooth support");
    case BluetoothState::kNoAdapter:
      return Span("warn", "no Bluetooth adapter");
    case BluetoothState::kNoBluez:
      return Span("warn", "the Bluetooth service is not running");
    case BluetoothState::kRefused:
      return Span("warn", "the Bluetooth service refused the registration");
    case BluetoothState::kAcceptFailed:
      return Span("warn", "listening stopped; trying again");
    case BluetoothState::kStarting:
      break;
  }
  return Span("wait", "starting");
}

std::string JoystickText(JoystickState state) {
  switch (state) {
    case JoystickState::kReady:
      return Span("ok", "ready");
    case JoystickState::kBusy:
      return Span("bad", "failing: another program holds device 1");
    case JoystickState::kMissing:
      return Span("bad", "failing: the device cannot be made");
    case JoystickState::kFailed:
      return Span("bad", "failing");
    case JoystickState::kStarting:
      break;
  }
  return Span("wait", "starting");
}

const char* AnswerText(Answer answer, const char* yes, const char* no) {
  return answer == Answer::kYes ? yes : answer == Answer::kNo ? no : "unknown";
}

std::string FirewallText(const FirewallFacts& f) {
  if (f.name.empty()) return EscapeMarkup(f.detail.empty() ? "none found" : f.detail);
  std::string text = EscapeMarkup(f.name) + ": " + AnswerText(f.active, "on", "off");
  if (f.active != Answer::kNo)
    text += "; lets 41503 in: " + std::string(AnswerText(f.allowsLinkPort, "yes", "no"));
  if (!f.detail.empty()) text += " (" + EscapeMarkup(f.detail) + ")";
  return text;
}

bool IsLinkLocal(uint32_t networkOrder) {
  const auto* b = reinterpret_cast<const uint8_t*>(&networkOrder);
  return b[0] == 169 && b[1] == 254;
}

std::vector<Problem> FindProblems(const StatusSnapshot& s) {
  std::vector<Problem> problems;
  const PlatformAdvice& advice = Advice();
  if (s.announcePasses > 0 && s.announced.empty())
    problems.push_back({"This PC has no network address besides loopback.",
                        "Connect it to the Wi-Fi network (or cable) that the phone uses."});
  for (const auto& a : s.announced) {
    if (a.lastSend == SendResult::kFailed)
      problems.push_back({"Announcing on " + Ipv4Text(a.address) + " failed.",
                          "That network is down or has no link; check its cable or Wi-Fi."});
    else if (IsLinkLocal(a.address))
      problems.push_back({Ipv4Text(a.address) + " is a self-assigned address: that network gave "
                                                "none.",
                          "Check the router, or join the phone's network."});
  }
  if (s.tcp == ListenerState::kPortBusy || s.udp == ListenerState::kPortBusy)
    problems.push_back({"Another program holds port 41503, so phones cannot reach Wendrix.",
                        std::string(advice.findPortOwner) + "; Wendrix takes the port by itself "
                                                            "once it is free."});
  else if (s.tcp == ListenerState::kFailed || s.udp == ListenerState::kFailed)
    problems.push_back({"Wendrix cannot listen on port 41503.", "Restart Wendrix."});
  if (s.joystick == JoystickState::kBusy)
    problems.push_back({"Another program holds the virtual joystick.",
                        "Close the other program (or another Wendrix), then restart Wendrix."});
  else if (s.joystick == JoystickState::kMissing || s.joystick == JoystickState::kFailed)
    problems.push_back({"The virtual joystick is not available, so games see no wheel.",
                        std::string(advice.joystickMissing) + "."});
  const FirewallFacts& f = s.system.firewall;
  if (f.active == Answer::kYes && f.allowsLinkPort == Answer::kNo)
    problems.push_back(
        {EscapeMarkup(f.name) + " blocks port 41503.", "<code>" + EscapeMarkup(f.fix) + "</code>"});
  else if (f.active == Answer::kUnknown && f.allowsLinkPort == Answer::kNo && !f.name.empty())
    problems.push_back({EscapeMarkup(f.name) + " may block port 41503: nothing lets it in.",
                        "<code>" + EscapeMarkup(f.fix) + "</code>"});
  else if (f.active != Answer::kNo && f.allowsLinkPort == Answer::kUnknown && !f.name.empty())
    problems.push_back({"Wendrix cannot tell whether " + EscapeMarkup(f.name) + " lets 41503 in.",
                        "If no phone finds this PC: <code>" + EscapeMarkup(f.fix) + "</code>"});
  if (s.bluetooth == BluetoothState::kNoBluez)
    problems.push_back(
        {"Bluetooth is not available (Wi-Fi still works).", std::string(advice.startBluetooth) + "."});
  else if (s.bluetooth == BluetoothState::kNoAdapter ||
           (s.bluetooth == BluetoothState::kRegistered && s.system.bluetoothAdapters == 0))
    problems.push_back({"No Bluetooth adapter (Wi-Fi still works).", std::string(advice.noAdapter) + "."});
  return problems;
}

// In whole minutes: the clock time beside it tells the seconds, and a
// figure that changes every second would redraw the page every second.
std::string Duration(int64_t milliseconds) {
  const int64_t minutes = std::max<int64_t>(0, milliseconds / 60'000);
  if (minutes < 1) return "under 1 min";
  if (minutes < 60) return std::to_string(minutes) + " min";
  return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

std::string LinkRow(const char* name, const LinkFigures& link, int64_t now, const std::string& peer) {
  if (!link.active) return Row(name, Span("idle", "not used"));
  std::string text = Span("ok", "active");
  if (link.since > 0)
    text += " since " + LocalClockTime(link.since) + " (" + Duration(now - link.since) + ")";
  text += "<br>" + WholeNumber(link.perSecond) + " messages per second";
  if (!peer.empty()) text += "<br>phone: " + peer;
  return Row(name, text);
}

// Connection header and the fixed parts of every response.
std::string ResponseHead(int status, std::string_view type, size_t length, std::string_view extra = {}) {
  const char* reason = "Error";
  switch (status) {
    case 200:
      reason = "OK";
      break;
    case 400:
      reason = "Bad Request";
      break;
    case 403:
      reason = "Forbidden";
      break;
    case 404:
      reason = "Not Found";
      break;
    case 405:
      reason = "Method Not Allowed";
      break;
    case 408:
      reason = "Request Timeout";
      break;
    case 414:
      reason = "URI Too Long";
      break;
    case 431:
      reason = "Request Header Fields Too Large";
      break;
    case 505:
      reason = "HTTP Version Not Supported";
      break;
  }
  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
  head += "Content-Type: " + std::string(type) + "\r\n";
  head += "Content-Length: " + std::to_string(length) + "\r\n";
  if (status == 405) head += "Allow: GET, HEAD\r\n";
  head += extra;
  head +=
      "Cache-Control: no-store\r\n"
      "X-Content-Type-Options: nosniff\r\n"
      "X-Frame-Options: DENY\r\n"
      "Connection: close\r\n\r\n";
  return head;
}

std::string Response(int status, std::string_view type, const std::string& body, bool withBody,
                     std::string_view extra = {}) {
  std::string response = ResponseHead(status, type, body.size(), extra);
  if (withBody) response += body;
  return response;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
         });
}

// Only the names under which the browser reached this very server: a page
// elsewhere that points a name of its own at 127.0.0.1 is refused.
bool IsOwnHost(std::string_view host, uint16_t port) {
  const std::string digits = std::to_string(port);
  if (!host.ends_with(digits)) return false;
  host.remove_suffix(digits.size());
  if (!host.ends_with(':')) return false;
  host.remove_suffix(1);
  return host == "127.0.0.1" || EqualsIgnoringCase(host, "localhost");
}

// The value of `name` in the query, empty when absent.
std::string_view QueryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const size_t end = query.find('&');
    const std::string_view pair = query.substr(0, end);
    if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=')
      return pair.substr(name.size() + 1);
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + 1);
  }
  return {};
}

std::string FillPage(std::string_view page, std::string_view live) {
  std::string text(page);
  constexpr std::string_view kMark = "<!--live-->";
  if (const size_t at = text.find(kMark); at != std::string::npos) text.replace(at, kMark.size(), live);
  return text;
}

}  // namespace

double MessageRate::Sample(uint64_t count, int64_t nowMs) {
  const Point last = points_[newest_];
  if (size_ == 0 || nowMs < last.time || count < last.count) {
    Restart({count, nowMs});
    return shown_ = 0;
  }
  if (nowMs - last.time < 1000) return shown_;
  const uint64_t messages = count - last.count;
  if (messages == 0 || !moving_ || nowMs - last.time > 2000) {
    // A stream that stops shows 0 at once. One that starts does so within
    // the last second, which is shown as it is and left out of the average;
    // so is a stream sampled again after a pause.
    Restart({count, nowMs});
    moving_ = messages > 0;
    return shown_ = static_cast<double>(messages) * 1000.0 / static_cast<double>(nowMs - last.time);
  }
  newest_ = (newest_ + 1) % kPoints;
  points_[newest_] = {count, nowMs};
  size_ = std::min(size_ + 1, kPoints);
  const Point& oldest = points_[(newest_ + kPoints - size_ + 1) % kPoints];
  const double average =
      static_cast<double>(count - oldest.count) * 1000.0 / static_cast<double>(nowMs - oldest.time);
  if (std::abs(average - shown_) > std::max(1.0, shown_ * 0.02)) shown_ = average;
  return shown_;
}

void MessageRate::Restart(Point point) {
  newest_ = 0;
  points_[0] = point;
  size_ = 1;
}

StatusSnapshot TakeSnapshot(SystemFacts system, MessageRate& wifiRate, MessageRate& bluetoothRate) {
  StatusSnapshot s;
  s.system = std::move(system);
  s.now = WallClockMilliseconds();
  const uint32_t count = std::min<uint32_t>(gStatus.announcedCount.load(kRelaxed), kMaxAnnouncedAddresses);
  for (uint32_t i = 0; i < count; ++i) {
    const AnnouncedAddress& a = gStatus.announced[i];
    s.announced.push_back({a.address.load(kRelaxed), a.broadcast.load(kRelaxed), a.lastSend.load(kRelaxed)});
  }
  s.announcePasses = gStatus.announcePasses.load(kRelaxed);
  s.tcp = gStatus.tcpListener.load(kRelaxed);
  s.udp = gStatus.udpListener.load(kRelaxed);
  s.bluetooth = gStatus.bluetooth.load(kRelaxed);
  s.bluetoothChannel = gStatus.bluetoothChannel.load(kRelaxed);
  s.joystick = gStatus.joystick.load(kRelaxed);
  s.connected = gState.connected.load(kRelaxed);
  s.wifi = {gState.wifiActive.load(kRelaxed), gStatus.wifiSince.load(kRelaxed),
            gStatus.wifiMessages.load(kRelaxed), 0};
  s.bluetoothLink = {gState.bluetoothActive.load(kRelaxed), gStatus.bluetoothSince.load(kRelaxed),
                     gStatus.bluetoothMessages.load(kRelaxed), 0};
  s.wifi.perSecond = wifiRate.Sample(s.wifi.messages, s.now);
  s.bluetoothLink.perSecond = bluetoothRate.Sample(s.bluetoothLink.messages, s.now);
  s.wifiPeer = gStatus.wifiPeerAddress.load(kRelaxed);
  s.wifiPeerPort = gStatus.wifiPeerPort.load(kRelaxed);
  s.bluetoothPeer = gStatus.bluetoothPeer.load(kRelaxed);
  if (s.bluetoothLink.active) s.bluetoothPeerName = BluetoothDeviceName(s.bluetoothPeer);
  return s;
}

std::string Ipv4Text(uint32_t networkOrder) {
  const auto* b = reinterpret_cast<const uint8_t*>(&networkOrder);
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
         std::to_string(b[3]);
}

std::string BluetoothAddressText(uint64_t address) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X",
                static_cast<unsigned>(address >> 40 & 0xFF), static_cast<unsigned>(address >> 32 & 0xFF),
                static_cast<unsigned>(address >> 24 & 0xFF), static_cast<unsigned>(address >> 16 & 0xFF),
                static_cast<unsigned>(address >> 8 & 0xFF), static_cast<unsigned>(address & 0xFF));
  return text;
}

std::string RenderWaitingLive(const StatusSnapshot& s) {
  std::string html = "<table class=\"check\">\n";
  html +=
      Row("PC name", s.system.computerName.empty() ? Span("warn", "unknown")
                                                   : "<b>" + EscapeMarkup(s.system.computerName) + "</b>");
  std::string addresses;
  if (s.announced.empty())
    addresses = s.announcePasses == 0 ? Span("wait", "not announced yet") : Span("bad", "none");
  for (const auto& a : s.announced) {
    addresses += "<div class=\"addr\">" + Ipv4Text(a.address) + " &rarr; " + Ipv4Text(a.broadcast) + " ";
    addresses += a.lastSend == SendResult::kSent     ? Span("ok", "sent")
                 : a.lastSend == SendResult::kFailed ? Span("bad", "send failed")
                                                     : Span("wait", "not sent yet");
    addresses += "</div>";
  }
  html += Row("Announced from", addresses);
  html += Row("TCP 41503", ListenerText(s.tcp));
  html += Row("UDP 41503", ListenerText(s.udp));
  html += Row("Bluetooth", BluetoothText(s));
  html += Row("Virtual joystick", JoystickText(s.joystick));
  html += Row("Firewall", FirewallText(s.system.firewall));
  html += "</table>\n";

  const std::vector<Problem> problems = FindProblems(s);
  if (problems.empty()) {
    html += "<p class=\"allgood\">" + Span("ok", "Nothing here stops a phone from connecting.") + "</p>\n";
  } else {
    html += "<h2>What stops a phone</h2>\n<ul class=\"problems\">\n";
    for (const Problem& p : problems) html += "<li><b>" + p.what + "</b><br>Fix: " + p.fix + "</li>\n";
    html += "</ul>\n";
  }
  return html;
}

std::string RenderConnectedLive(const StatusSnapshot& s) {
  std::string html;
  if (!s.connected) html += "<p>" + Span("wait", "No phone is sending at the moment.") + "</p>\n";
  html += "<table class=\"check\">\n";
  std::string wifiPeer;
  if (s.wifiPeer != 0) wifiPeer = Ipv4Text(s.wifiPeer) + ":" + std::to_string(s.wifiPeerPort);
  html += LinkRow("Wi-Fi", s.wifi, s.now, wifiPeer);
  std::string bluetoothPeer;
  if (s.bluetoothPeer != 0) {
    bluetoothPeer = BluetoothAddressText(s.bluetoothPeer);
    if (!s.bluetoothPeerName.empty())
      bluetoothPeer = EscapeMarkup(s.bluetoothPeerName) + " (" + bluetoothPeer + ")";
  }
  html += LinkRow("Bluetooth", s.bluetoothLink, s.now, bluetoothPeer);
  html += Row("Virtual joystick", JoystickText(s.joystick));
  html += "</table>\n";
  return html;
}

static std::string ErrorAnswer(int status, bool withBody) {
  const std::string body = "<!DOCTYPE html><title>" + std::to_string(status) + "</title><p>Error " +
                           std::to_string(status) + ".</p>\n";
  return Response(status, "text/html; charset=utf-8", body, withBody);
}

std::string ErrorResponse(int status) { return ErrorAnswer(status, true); }

static LivePart LivePartOf(std::string_view query) {
  return QueryValue(query, "part") == "connected" ? LivePart::kConnected : LivePart::kWaiting;
}

// FNV-1a, 64 bits, in hex: tells one rendering from another, nothing more.
std::string LiveTag(std::string_view html) {
  uint64_t hash = 0xcbf29ce484222325u;
  for (const unsigned char c : html) hash = (hash ^ c) * 0x100000001b3u;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string tag(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) tag[static_cast<size_t>(i)] = kDigits[hash & 15];
  return tag;
}

std::string LiveAnswer(const std::string& html, bool withBody) {
  const std::string tag = "X-Live-Tag: " + LiveTag(html) + "\r\n";
  return Response(200, "text/html; charset=utf-8", html, withBody, tag);
}

std::string LiveScript(std::string_view html) {
  std::string script = "window.wendrixLive && window.wendrixLive(\"";
  for (size_t i = 0; i < html.size(); ++i) {
    const auto c = static_cast<unsigned char>(html[i]);
    if (c == '\\' || c == '"') {
      script += '\\';
      script += static_cast<char>(c);
    } else if (c < 0x20 || c == '<' || c == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      script += escaped;
    } else if (c == 0xe2 && i + 2 < html.size() && html[i + 1] == '\x80' &&
               (html[i + 2] == '\xa8' || html[i + 2] == '\xa9')) {
      // U+2028 and U+2029 end a line, even inside a string literal.
      script += html[i + 2] == '\xa8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      script += static_cast<char>(c);
    }
  }
  script += "\", \"" + LiveTag(html) + "\")";
  return script;
}

std::optional<std::string> ReplaceLivePart(std::string_view page, std::string_view live) {
  const size_t id = page.find("id=\"live\"");
  if (id == std::string_view::npos) return std::nullopt;
  const size_t open = page.rfind('<', id);
  if (open == std::string_view::npos || page.substr(open, 5) != "<div " || page.find('>', open) < id)
    return std::nullopt;
  const size_t start = page.find('>', id);
  if (start == std::string_view::npos) return std::nullopt;
  // The live part's own divs nest inside it.
  size_t at = start + 1;
  for (int depth = 1;;) {
    at = page.find("div", at);
    if (at == std::string_view::npos || at < 2) return std::nullopt;
    const bool closing = page.substr(at - 2, 2) == "</";
    const bool opening = page[at - 1] == '<';
    const char after = at + 3 < page.size() ? page[at + 3] : '\0';
    const bool whole = after == '>' || after == ' ' || after == '\t' || after == '\n' || after == '\r';
    if (whole && closing && --depth == 0) break;
    if (whole && opening) ++depth;
    at += 3;
  }
  std::string text(page.substr(0, start + 1));
  text += live;
  text += page.substr(at - 2);
  return text;
}

// Compares every byte whatever the first difference, so that the time an
// answer takes tells nothing of how much of a secret was right.
static bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char differ = 0;
  for (size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
  return differ == 0;
}

// The page a path names, below root and the pages' folder; none outside.
static std::optional<std::string_view> PageName(std::string_view path, std::string_view root) {
  if (path.size() < root.size() || !SameText(path.substr(0, root.size()), root)) return std::nullopt;
  path.remove_prefix(root.size());
  if (!path.starts_with(kPagePrefix)) return std::nullopt;
  return path.substr(kPagePrefix.size());
}

std::optional<LiveWait> WaitingLiveRequest(const HttpRequest& request, uint16_t port, std::string_view root) {
  if (request.status != 200 || request.method != "GET" || !IsOwnHost(request.host, port)) return std::nullopt;
  const size_t question = request.target.find('?');
  if (question == std::string_view::npos) return std::nullopt;
  if (PageName(request.target.substr(0, question), root) != "live.php") return std::nullopt;
  const std::string_view query = request.target.substr(question + 1);
  const std::string_view since = QueryValue(query, "since");
  if (since.empty()) return std::nullopt;
  return LiveWait{LivePartOf(query), std::string(since)};
}

std::string AnswerRequest(const HttpRequest& request, uint16_t port, std::string_view root,
                          LiveSource& live) {
  if (request.status != 200) return ErrorResponse(request.status == 0 ? 400 : request.status);
  const bool head = request.method == "HEAD";
  if (!IsOwnHost(request.host, port)) return ErrorAnswer(403, !head);
  if (!head && request.method != "GET") return ErrorResponse(405);
  const size_t question = request.target.find('?');
  const std::string_view path = request.target.substr(0, question);
  const std::string_view query =
      question == std::string_view::npos ? std::string_view() : request.target.substr(question + 1);
  const std::optional<std::string_view> page = PageName(path, root);
  if (!page) return ErrorAnswer(404, !head);
  const std::string_view name = *page;

  constexpr const char* kHtml = "text/html; charset=utf-8";
  if (name == "waiting.php")
    return Response(200, kHtml, FillPage(kWaitingPageFile, live.Render(LivePart::kWaiting)), !head);
  if (name == "connected.php")
    return Response(200, kHtml, FillPage(kConnectedPageFile, live.Render(LivePart::kConnected)), !head);
  if (name == "live.php") return LiveAnswer(live.Render(LivePartOf(query)), !head);
  if (name == "links/help.php") return Response(200, kHtml, std::string(kHelpPageFile), !head);
  if (name == "style.css") return Response(200, "text/css; charset=utf-8", std::string(kStyleFile), !head);
  if (name == "live.js")
    return Response(200, "application/javascript; charset=utf-8", std::string(kScriptFile), !head);
  return ErrorAnswer(404, !head);
}

}  // namespace wendrix
