#include "status/HttpRequest.h"

#include <algorithm>

namespace wendrix {

namespace {

bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), IsTokenChar); }

bool IsVisible(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

HttpRequest Failed(int status) {
  HttpRequest request;
  request.status = status;
  return request;
}

// The next line without its end (LF, or CR LF); false when no end yet.
bool NextLine(std::string_view& rest, std::string_view& line) {
  const size_t end = rest.find('\n');
  if (end == std::string_view::npos) return false;
  line = rest.substr(0, end);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  rest.remove_prefix(end + 1);
  return true;
}

bool ParseRequestLine(std::string_view line, HttpRequest& request) {
  const size_t first = line.find(' ');
  const size_t last = line.rfind(' ');
  if (first == std::string_view::npos || first == last) return false;
  request.method = line.substr(0, first);
  request.target = line.substr(first + 1, last - first - 1);
  const std::string_view version = line.substr(last + 1);
  if (!IsToken(request.method) || request.target.empty() || request.target.front() != '/' ||
      !IsVisible(request.target))
    return false;
  if (version.size() != 8 || !version.starts_with("HTTP/") || version[6] != '.' || version[5] < '0' ||
      version[5] > '9' || version[7] < '0' || version[7] > '9')
    return false;
  if (version[5] != '1') request.status = 505;
  return true;
}

}  // namespace

HttpRequest ParseHttpRequest(std::string_view received) {
  std::string_view rest = received.substr(0, std::min(received.size(), kMaxRequestHead));
  std::string_view line;
  if (!NextLine(rest, line)) {
    if (received.size() > kMaxRequestLine) return Failed(414);
    return {};
  }
  if (line.size() > kMaxRequestLine) return Failed(414);
  HttpRequest request;
  if (!ParseRequestLine(line, request)) return Failed(400);

  bool hasHost = false;
  for (size_t lines = 0;; ++lines) {
    if (!NextLine(rest, line)) {
      if (received.size() >= kMaxRequestHead) return Failed(431);
      return {};
    }
    if (line.empty()) break;
    if (lines == kMaxHeaderLines) return Failed(431);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon))) return Failed(400);
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (std::any_of(value.begin(), value.end(), [](char c) { return (c < 0x20 && c != '\t') || c == 0x7F; }))
      return Failed(400);
    if (EqualsIgnoringCase(name, "host")) {
      if (hasHost) return Failed(400);
      hasHost = true;
      request.host = value;
    } else if (EqualsIgnoringCase(name, "transfer-encoding") ||
               (EqualsIgnoringCase(name, "content-length") && value != "0")) {
      // Nothing the server answers takes a body.
      return Failed(400);
    }
  }
  request.headLength = static_cast<size_t>(rest.data() - received.data());
  if (request.status == 0) request.status = 200;
  return request;
}

}  // namespace wendrix
