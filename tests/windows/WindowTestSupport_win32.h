// Helpers of the window tests under Wine: a page server on 127.0.0.1, the
// record of the desktop's "open" (a fake xdg-open behind Wine's
// winebrowser), and waiting while the window's messages are served.
#pragma once

#include <winsock.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace wendrix::test {

// Serves every path on a loopback port the system picks, below `root` ("/"
// and a secret, or empty), and remembers each request's path below it. The
// answer to a request (its whole text, the port and the root) comes from
// `answer`; without one, every path is an empty page.
class PageServer {
 public:
  using Answer =
      std::function<std::string(const std::string& request, unsigned short port, const std::string& root)>;

  explicit PageServer(Answer answer = {}, std::string root = {})
      : answer_(std::move(answer)), root_(std::move(root)) {
    WSADATA data;
    ::WSAStartup(0x0101, &data);
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      std::fprintf(stderr, "the test page server cannot listen: error %d\n", ::WSAGetLastError());
    port_ = ::ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~PageServer() {
    stop_ = true;
    ::closesocket(listener_);
    thread_.join();
  }

  unsigned short Port() const { return port_; }
  const std::string& Root() const { return root_; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_) + root_; }

  std::vector<std::string> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  bool WasAskedFor(const std::string& path) {
    for (const std::string& r : Requests())
      if (r == path) return true;
    return false;
  }

 private:
  void Serve() {
    while (!stop_) {
      SOCKET client = ::accept(listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) continue;
      std::string request;
      char buffer[2048];
      while (request.find("\r\n\r\n") == std::string::npos) {
        const int n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
      }
      const size_t start = request.find(' ');
      const size_t end = start == std::string::npos ? start : request.find(' ', start + 1);
      if (end != std::string::npos) {
        std::string path = request.substr(start + 1, end - start - 1);
        if (path.starts_with(root_)) path.erase(0, root_.size());
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(path));
      }
      // Never cached, as the program's own pages: every navigation asks again.
      const std::string page =
          answer_ ? answer_(request, port_, root_)
                  : "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nCache-Control: no-store\r\n"
                    "Pragma: no-cache\r\nContent-Length: 13\r\n\r\n<html></html>";
      ::send(client, page.data(), static_cast<int>(page.size()), 0);
      ::closesocket(client);
    }
  }

  Answer answer_;
  std::string root_;
  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// Serves the calling thread's messages until done() or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 15000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

inline void Pump(int ms) {
  PumpUntil([] { return false; }, ms);
}

// The addresses the fake xdg-open was given, one a line, in the file that
// WENDRIX_OPENED_LOG names (a Unix path, reached through drive Z:).
inline std::string OpenedLog() {
  char unixPath[MAX_PATH];
  const DWORD n = ::GetEnvironmentVariableA("WENDRIX_OPENED_LOG", unixPath, sizeof unixPath);
  if (n == 0 || n >= sizeof unixPath) return {};
  return std::string("Z:") + unixPath;
}

inline void ClearOpenedAddresses() {
  const std::string log = OpenedLog();
  ::DeleteFileA(log.c_str());
  const auto slash = log.find_last_of('/');
  if (slash != std::string::npos) ::CreateDirectoryA(log.substr(0, slash).c_str(), nullptr);
}

inline std::vector<std::string> OpenedAddresses() {
  std::ifstream file(OpenedLog());
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

inline bool WasOpened(const std::string& address) {
  for (const std::string& line : OpenedAddresses())
    if (line == address) return true;
  return false;
}

}  // namespace wendrix::test

namespace wendrix::test {

// The control with this identifier anywhere below window, or nullptr.
inline HWND FindControl(HWND window, int id) {
  struct Search {
    int id;
    HWND found;
  } search{id, nullptr};
  ::EnumChildWindows(
      window,
      [](HWND child, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (::GetDlgCtrlID(child) != s->id) return TRUE;
        s->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

inline std::string WindowText(HWND window) {
  char text[512] = {};
  ::SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

}  // namespace wendrix::test
