#include "GameReaders.h"

#include <fcntl.h>
#include <poll.h>
#include <csignal>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "LinkTestSupport.h"
#include "protocol/Protocol.h"

extern char** environ;

namespace wendrix::test {

namespace {

using Clock = std::chrono::steady_clock;

bool ReadersRequired() {
  const char* env = std::getenv("WENDRIX_GAME_READERS");
  return env && std::strcmp(env, "required") == 0;
}

}  // namespace

void GameReadersTest::SetUp() {
  ReceiverTest::SetUp();
  if (IsSkipped() || HasFatalFailure()) return;
  ASSERT_TRUE(WifiListening()) << "the services do not listen on port " << kLinkPort;
}

bool GameReadersTest::Missing(bool missing, const std::string& what) {
  if (!missing) return false;
  if (ReadersRequired()) {
    ADD_FAILURE() << what << " (the stage requires every reader)";
  } else {
    [&] { GTEST_SKIP() << "needs " << what << "; tests/vm/run-vm-tests runs this test with every reader"; }();
  }
  return true;
}

void GameReadersTest::WaitUntilShown(const vjoy::WheelState& expected) {
  const bool shown = vjoy::WaitFor([&] { return Shown() == expected; });
  ASSERT_TRUE(shown) << "the wheel shows x " << Shown().x << " y " << Shown().y << " buttons "
                     << int{Shown().buttons} << ", not x " << expected.x << " y " << expected.y << " buttons "
                     << int{expected.buttons};
}

void GameReadersTest::SendDatagram(uint16_t steering, uint16_t pedals) {
  const int udp = OpenUdpClient();
  ASSERT_GE(udp, 0);
  const bool sent =
      SendDatagramTo(udp, kLinkPort, BuildControlDatagram({NextSequence(), steering, pedals, 0}));
  close(udp);
  ASSERT_TRUE(sent);
  // The legacy decoder's report carries its own buttons: none, here.
  WaitUntilShown({steering, pedals, 0});
}

void GameReadersTest::SendFramed(int32_t steering, int32_t pedals, uint8_t button1, uint8_t button2) {
  const int fd = ConnectLoopback(kLinkPort);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ReadBytes(fd, 2), (std::vector<uint8_t>{0x00, 0x02})) << "the greeting";
  const bool sent = SendAll(fd, BuildFrame(BuildFramedMessage({steering, pedals, 1, button1, button2})));
  EXPECT_TRUE(sent);
  if (sent) {
    WaitUntilShown({vjoy::kSteeringCentre + steering, vjoy::kSteeringCentre + pedals,
                    static_cast<uint8_t>(button1 + 2 * button2)});
  }
  close(fd);
}

void GameReadersTest::TapOnLegacyStream(int button) {
  const int fd = ConnectLoopback(kLinkPort);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ReadBytes(fd, 2), (std::vector<uint8_t>{0x00, 0x02})) << "the greeting";
  const vjoy::WheelState before = Shown();
  const auto steering = static_cast<uint16_t>(before.x);
  const auto pedals = static_cast<uint16_t>(before.y);
  const auto bit = static_cast<uint8_t>(1u << (button - 1));
  const LegacyRecord press{NextSequence(), steering, pedals, bit};
  const LegacyRecord release{NextSequence(), steering, pedals, 0};
  ASSERT_TRUE(SendAll(fd, Concat(BuildLegacyOpening(), BuildLegacyRecords(std::vector{press, release}))));
  // Records keep coming, as from a phone, until the pulse has ended.
  bool released = false;
  for (const auto end = Clock::now() + vjoy::kWheelDeadline; !released && Clock::now() < end;) {
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(SendAll(fd, BuildLegacyRecord({NextSequence(), steering, pedals, 0})));
    released = Shown() == before;
  }
  EXPECT_TRUE(released) << "the button was never released";
  close(fd);
}

std::string GameReadersTest::EventPath() { return "/dev/input/" + Wheel().Entry(); }

std::string GameReadersTest::JoystickPath() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path device = fs::path("/sys/class/input") / Wheel().Entry() / "device";
  for (fs::directory_iterator it(device, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("js", 0) == 0) return "/dev/input/" + name;
  }
  return {};
}

void GameReadersTest::Show(const std::string& title, const std::string& text) {
  std::printf("---- %s\n%s%s---- end\n", title.c_str(), text.c_str(),
              text.empty() || text.back() == '\n' ? "" : "\n");
  std::fflush(stdout);
}

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  for (const std::string& e : extraEnv) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data()) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  in_ = in[1];
  out_ = out[0];
  fcntl(out_, F_SETFL, O_NONBLOCK);
}

Child::~Child() {
  Stop();
  CloseInput();
  if (out_ >= 0) close(out_);
}

bool Child::ReadMore(Clock::time_point end) {
  for (;;) {
    char buffer[4096];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n > 0) {
      // Windows programs end their lines with \r\n.
      std::string text(buffer, static_cast<size_t>(n));
      std::erase(text, '\r');
      pending_ += text;
      output_ += text;
      return true;
    }
    if (n == 0 || errno != EAGAIN) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    poll(&p, 1, static_cast<int>(left));
  }
}

std::optional<std::string> Child::LineMatching(const std::function<bool(const std::string&)>& match,
                                               std::chrono::milliseconds deadline) {
  if (out_ < 0) return std::nullopt;
  const auto end = Clock::now() + deadline;
  for (;;) {
    for (size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      if (match(line)) return line;
    }
    if (!ReadMore(end)) return std::nullopt;
  }
}

std::optional<std::string> Child::LineStarting(const std::string& prefix,
                                               std::chrono::milliseconds deadline) {
  return LineMatching([&](const std::string& line) { return line.rfind(prefix, 0) == 0; }, deadline);
}

void Child::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

int Child::Wait(std::chrono::milliseconds deadline) {
  if (pid_ <= 0) return -1;
  const auto end = Clock::now() + deadline;
  int status = 0;
  // The output is read to its end, or to what is left once the program has
  // ended (a program it started may hold the pipe open).
  for (;;) {
    const bool ended = waitpid(pid_, &status, WNOHANG) == pid_;
    const bool more = ReadMore(std::min(end, Clock::now() + 10ms));
    if (ended) break;
    if (Clock::now() > end) {
      Stop();
      return -1;
    }
    if (!more) std::this_thread::sleep_for(10ms);  // the output ended before the program
  }
  while (ReadMore(Clock::now())) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Child::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 300 && waitpid(pid_, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(10ms);
  if (waitpid(pid_, &status, WNOHANG) == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
}

}  // namespace wendrix::test
