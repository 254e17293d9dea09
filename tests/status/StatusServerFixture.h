// The page server's tests on real loopback sockets: requests and their
// answers, and a fixture that checks that every socket and thread of a
// server comes back once it stopped. Both platforms.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "LinkTestSupport.h"
#include "app/Modules.h"
#include "status/StatusPages.h"
#include "status/StatusServer.h"

namespace wendrix::test {

inline std::string Host(const StatusServer& server) { return "127.0.0.1:" + std::to_string(server.Port()); }

// A request for `target` below the server's secret root.
inline std::string GetRequest(const StatusServer& server, std::string_view target) {
  return "GET " + server.Root() + std::string(target) + " HTTP/1.1\r\nHost: " + Host(server) + "\r\n\r\n";
}

// Sends `request` and reads the answer up to the server's close.
inline std::string Exchange(uint16_t port, std::string_view request) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return "no connection";
  SendAll(fd, {reinterpret_cast<const uint8_t*>(request.data()), request.size()});
  const std::vector<uint8_t> bytes = ReadBytes(fd, 1 << 20);
  CloseClient(fd);
  return {bytes.begin(), bytes.end()};
}

inline std::string Get(const StatusServer& server, std::string_view target) {
  return Exchange(server.Port(), GetRequest(server, target));
}

inline int Status(const std::string& response) {
  return response.size() >= 12 && response.starts_with("HTTP/1.1 ") ? std::stoi(response.substr(9, 3)) : 0;
}

inline bool Contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

inline constexpr std::string_view kWaiting = "/zodevur_app/en/waiting.php?v=5.1";

class StatusServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // As in the program, whose page server starts after them (Windows
    // sockets are started there).
    InitializeModules();
    EXPECT_TRUE(SettleThreads());
    descriptors_ = OpenDescriptorCount();
    threads_ = ThreadCount();
  }
  // Every socket and the thread of the server are gone once it stopped.
  void ExpectAllReturned() {
    EXPECT_TRUE(Eventually([&] { return OpenDescriptorCount() == descriptors_; }))
        << OpenDescriptorCount() << " descriptors open, " << descriptors_ << " before";
    EXPECT_TRUE(Eventually([&] { return ThreadCount() == threads_; }));
  }
  size_t descriptors_ = 0;
  size_t threads_ = 0;
};

// A live part that changes when the test says so.
class SteppedLive final : public LiveSource {
 public:
  std::string Render(LivePart) override {
    renders.fetch_add(1);
    return "<p>step " + std::to_string(step.load()) + "</p>";
  }
  std::atomic<int> step{0};
  std::atomic<int> renders{0};
};

inline std::string HeaderValue(const std::string& response, std::string_view name) {
  const size_t at = response.find("\r\n" + std::string(name) + ": ");
  if (at == std::string::npos) return {};
  const size_t from = at + name.size() + 4;
  return response.substr(from, response.find("\r\n", from) - from);
}

inline std::string Body(const std::string& response) {
  const size_t at = response.find("\r\n\r\n");
  return at == std::string::npos ? std::string() : response.substr(at + 4);
}

}  // namespace wendrix::test
