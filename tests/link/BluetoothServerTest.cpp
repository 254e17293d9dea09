// The Bluetooth listener's passes against fake entries in Winsock2Entries
// and a fake sleep: no radio, no bus, no real waiting.
#include <gtest/gtest.h>
#include <csignal>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BuildConfig.h"
#include "joystick/ControlState.h"
#include "joystick/StatusRecord.h"
#include "link/BluetoothServer.h"
#include "link/winsock2.h"

namespace wendrix {
namespace {

struct Registration {
  std::string name;
  std::string comment;
  bool classMatches;
  uint32_t nameSpace;
  uint32_t addresses;
  int socketType;
  int protocol;
  int channel;
};

constexpr uint8_t kRadio[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};

// What the listener did, in order, and what the fakes answer.
struct FakeStack {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> calls;
  std::map<std::string, int> failOn;  // call name -> which call (1-based) fails
  std::map<std::string, int> counts;
  std::deque<SocketHandle> incoming;
  bool stopping = false;
  int nextSocket = 100;
  std::vector<SockAddrRfcomm> bound;
  std::vector<int> backlogs;
  std::vector<Registration> registrations;
  std::vector<SocketHandle> accepted;
  std::vector<uint64_t> radios;               // handed over with each accepted socket
  int registerError = EACCES;                 // errno of a failing registration
  std::vector<BluetoothState> statesAtSleep;  // what gStatus showed at each wait

  // Records the call; true when it is scripted to fail.
  bool Note(const std::string& call) {
    std::lock_guard lock(mutex);
    calls.push_back(call);
    changed.notify_all();
    auto it = failOn.find(call);
    return it != failOn.end() && it->second == ++counts[call];
  }

  bool WaitUntil(const std::function<bool()>& condition) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), condition);
  }

  // With the mutex held, as in a WaitUntil condition.
  size_t Count(const std::string& call) {
    return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
  }
  // From the test's thread while the listener may still be calling in.
  size_t CountNow(const std::string& call) {
    std::lock_guard lock(mutex);
    return Count(call);
  }
};

FakeStack* fake = nullptr;

// A listening Unix socket stands in for the RFCOMM one, with the real
// accept entry, so that signals meet a real blocking accept.
int listeningSocket = -1;
SocketHandle (*realAccept)(SocketHandle, sockaddr*, socklen_t*) = nullptr;
std::atomic<pid_t> listenerThread{0};
std::atomic<int> signalsCaught{0};
struct sigaction previousAction {};

SocketHandle FakeSocket(int family, int type, int protocol) {
  if (fake->Note("socket")) return -1;
  EXPECT_EQ(family, 31);
  EXPECT_EQ(type, SOCK_STREAM);
  EXPECT_EQ(protocol, 3);
  std::lock_guard lock(fake->mutex);
  return fake->nextSocket++;
}

int FakeBind(SocketHandle, const sockaddr* address, socklen_t length) {
  EXPECT_EQ(length, sizeof(SockAddrRfcomm));
  SockAddrRfcomm a;
  std::memcpy(&a, address, sizeof a);
  {
    std::lock_guard lock(fake->mutex);
    fake->bound.push_back(a);
  }
  return fake->Note("bind") ? -1 : 0;
}

int FakeListen(SocketHandle, int backlog) {
  {
    std::lock_guard lock(fake->mutex);
    fake->backlogs.push_back(backlog);
  }
  return fake->Note("listen") ? -1 : 0;
}

// Reports the radio's address and the channel the kernel picked.
int FakeGetSockName(SocketHandle, sockaddr* address, socklen_t* length) {
  if (fake->Note("getsockname")) return -1;
  SockAddrRfcomm a{};
  a.family = 31;
  std::memcpy(a.bdaddr, kRadio, sizeof kRadio);
  a.channel = 7;
  EXPECT_GE(*length, sizeof a);
  std::memcpy(address, &a, sizeof a);
  *length = sizeof a;
  return 0;
}

int FakeSetService(const WSAQuerySet* record, int operation, uint32_t flags) {
  EXPECT_EQ(flags, 0u);
  if (operation == RNRSERVICE_DELETE) return fake->Note("delete") ? -1 : 0;
  EXPECT_EQ(operation, RNRSERVICE_REGISTER);
  Registration r{record->lpszServiceInstanceName,
                 record->lpszComment,
                 std::memcmp(record->lpServiceClassId, &BluetoothServiceClass, sizeof(Guid)) == 0,
                 record->dwNameSpace,
                 record->dwNumberOfCsAddrs,
                 record->lpcsaBuffer->iSocketType,
                 record->lpcsaBuffer->iProtocol,
                 reinterpret_cast<const SockAddrRfcomm*>(record->lpcsaBuffer->LocalAddr.lpSockaddr)->channel};
  {
    std::lock_guard lock(fake->mutex);
    fake->registrations.push_back(r);
  }
  if (!fake->Note("register")) return 0;
  errno = fake->registerError;
  return -1;
}

// Blocks like a listening socket until the test queues a connection; the
// phone's radio address is {s, A1, A2, A3, A4, A5}.
SocketHandle FakeAccept(SocketHandle, sockaddr* address, socklen_t* length) {
  if (fake->Note("accept")) return -1;
  std::unique_lock lock(fake->mutex);
  fake->changed.wait(lock, [] { return fake->stopping || !fake->incoming.empty(); });
  if (fake->incoming.empty()) return -1;
  const SocketHandle s = fake->incoming.front();
  fake->incoming.pop_front();
  EXPECT_TRUE(address && length && *length >= static_cast<socklen_t>(sizeof(SockAddrRfcomm)));
  if (address && length) {
    SockAddrRfcomm peer{31, {static_cast<uint8_t>(s), 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}, 1};
    std::memcpy(address, &peer, sizeof peer);
    *length = sizeof peer;
  }
  return s;
}

int FakeClose(SocketHandle s) {
  fake->Note("close " + std::to_string(s));
  return 0;
}

void FakeSleep(uint32_t milliseconds) {
  EXPECT_EQ(milliseconds, 1000u);
  {
    std::lock_guard lock(fake->mutex);
    fake->statesAtSleep.push_back(gStatus.bluetooth.load());
  }
  fake->Note("sleep");
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void OnAccepted(SocketHandle s, uint64_t radio) {
  std::lock_guard lock(fake->mutex);
  fake->accepted.push_back(s);
  fake->radios.push_back(radio);
  fake->changed.notify_all();
}

class BluetoothListener : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = &stack_;
    saved_ = Winsock2Entries;
    Winsock2Entries = Winsock2EntryPoints{};
    Winsock2Entries.socket = &FakeSocket;
    Winsock2Entries.bind = &FakeBind;
    Winsock2Entries.listen = &FakeListen;
    Winsock2Entries.getsockname = &FakeGetSockName;
    Winsock2Entries.WSASetService = &FakeSetService;
    Winsock2Entries.accept = &FakeAccept;
    Winsock2Entries.closesocket = &FakeClose;
    gState.wifiActive.store(false);
  }

  void TearDown() override {
    // Out of a real accept: it fails once the socket is shut down.
    if (listeningSocket >= 0) ::shutdown(listeningSocket, SHUT_RDWR);
    if (server_) {
      server_->Terminate();
      {
        std::lock_guard lock(stack_.mutex);
        stack_.stopping = true;
      }
      stack_.changed.notify_all();
      server_->WaitFor();
      server_.reset();
    }
    gState.wifiActive.store(false);
    Winsock2Entries = saved_;
    if (listeningSocket >= 0) {
      ::sigaction(SIGUSR1, &previousAction, nullptr);
      ::close(listeningSocket);
      listeningSocket = -1;
      for (SocketHandle s : stack_.accepted) ::close(s);
    }
    fake = nullptr;
  }

  void Start() {
    server_ = std::make_unique<TBluetoothServer>(&OnAccepted, &FakeSleep);
    server_->Start();
  }

  // Waits until the listener has called accept `n` times.
  void AwaitAccepting(size_t n) {
    ASSERT_TRUE(stack_.WaitUntil([&] { return stack_.Count("accept") >= n; }))
        << ::testing::PrintToString(Calls());
  }

  std::vector<std::string> Calls() {
    std::lock_guard lock(stack_.mutex);
    return stack_.calls;
  }

  void Connect(std::vector<SocketHandle> sockets) {
    {
      std::lock_guard lock(stack_.mutex);
      stack_.incoming.insert(stack_.incoming.end(), sockets.begin(), sockets.end());
    }
    stack_.changed.notify_all();
  }

  FakeStack stack_;
  Winsock2EntryPoints saved_;
  std::unique_ptr<TBluetoothServer> server_;
};

using CallList = std::vector<std::string>;

const CallList kSetUp = {"socket", "bind", "listen", "getsockname", "register", "accept"};

TEST_F(BluetoothListener, FirstPassRegistersAtOnceWhateverWifiSays) {
  gState.wifiActive.store(true);
  Start();
  AwaitAccepting(1);
  EXPECT_EQ(Calls(), kSetUp);

  std::lock_guard lock(stack_.mutex);
  ASSERT_EQ(stack_.bound.size(), 1u);
  EXPECT_EQ(stack_.bound[0].family, 31);
  EXPECT_EQ(stack_.bound[0].channel, 0);  // the kernel picks the channel
  EXPECT_EQ(stack_.backlogs, std::vector<int>{4});
  ASSERT_EQ(stack_.registrations.size(), 1u);
  const Registration& r = stack_.registrations[0];
  EXPECT_EQ(r.name, "Wendrix bluetooth server");
  EXPECT_EQ(r.comment, std::string("More info on ") + kWebSite);
  EXPECT_TRUE(r.classMatches);
  EXPECT_EQ(r.nameSpace, NS_BTH);
  EXPECT_EQ(r.addresses, 1u);
  EXPECT_EQ(r.socketType, SOCK_STREAM);
  EXPECT_EQ(r.protocol, 3);
  EXPECT_EQ(r.channel, 7);  // as getsockname reported it
  EXPECT_EQ(gStatus.bluetooth.load(), BluetoothState::kRegistered);
  EXPECT_EQ(gStatus.bluetoothChannel.load(), 7);
}

struct FailureCase {
  const char* step;
  CallList failedPass;   // up to the wait before the next pass
  BluetoothState shown;  // in gStatus during that wait
};

class FailingStep : public BluetoothListener, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailingStep, ClosesTheSocketAndTriesAgainAfterTheWait) {
  stack_.failOn[GetParam().step] = 1;
  Start();
  AwaitAccepting(GetParam().step == std::string("accept") ? 2 : 1);
  CallList expected = GetParam().failedPass;
  expected.push_back("sleep");
  expected.insert(expected.end(), kSetUp.begin(), kSetUp.end());
  EXPECT_EQ(Calls(), expected);
  std::lock_guard lock(stack_.mutex);
  EXPECT_EQ(stack_.statesAtSleep, std::vector<BluetoothState>{GetParam().shown});
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FailingStep,
    ::testing::Values(
        FailureCase{"socket", {"socket"}, BluetoothState::kNoBluetooth},
        FailureCase{"bind", {"socket", "bind", "close 100"}, BluetoothState::kNoAdapter},
        FailureCase{"listen", {"socket", "bind", "listen", "close 100"}, BluetoothState::kNoAdapter},
        FailureCase{"getsockname",
                    {"socket", "bind", "listen", "getsockname", "close 100"},
                    BluetoothState::kNoAdapter},
        FailureCase{"register",
                    {"socket", "bind", "listen", "getsockname", "register", "close 100"},
                    BluetoothState::kRefused},
        // The record of a socket that no longer listens is withdrawn.
        FailureCase{"accept",
                    {"socket", "bind", "listen", "getsockname", "register", "accept", "delete", "close 100"},
                    BluetoothState::kAcceptFailed}),
    [](const auto& test) { return std::string(test.param.step); });

TEST_F(BluetoothListener, ARegistrarThatCannotBeReachedIsToldFromARefusal) {
  stack_.failOn["register"] = 1;
  stack_.registerError = EHOSTUNREACH;  // sd-bus: no owner of org.bluez
  Start();
  AwaitAccepting(1);
  std::lock_guard lock(stack_.mutex);
  EXPECT_EQ(stack_.statesAtSleep, std::vector<BluetoothState>{BluetoothState::kNoBluez});
}

TEST_F(BluetoothListener, NoNewSocketWhileWifiStaysActive) {
  gState.wifiActive.store(true);
  stack_.failOn["socket"] = 1;
  Start();
  ASSERT_TRUE(stack_.WaitUntil([&] { return stack_.Count("sleep") >= 20; }));
  EXPECT_EQ(stack_.CountNow("socket"), 1u);

  gState.wifiActive.store(false);
  AwaitAccepting(1);
  EXPECT_EQ(stack_.CountNow("socket"), 2u);
}

TEST_F(BluetoothListener, AcceptsInOrderAndGoesOnWhenWifiBecomesActive) {
  Start();
  AwaitAccepting(1);
  gState.wifiActive.store(true);
  Connect({0, 7, 8, 9});  // 0 is a valid descriptor
  ASSERT_TRUE(stack_.WaitUntil([&] { return stack_.Count("accept") >= 5; }));
  std::lock_guard lock(stack_.mutex);
  EXPECT_EQ(stack_.accepted, (std::vector<SocketHandle>{0, 7, 8, 9}));
  EXPECT_EQ(stack_.radios,
            (std::vector<uint64_t>{0xA5A4A3A2A100u, 0xA5A4A3A2A107u, 0xA5A4A3A2A108u, 0xA5A4A3A2A109u}));
  EXPECT_EQ(gStatus.bluetoothPeer.load(), 0u) << "named before its stream delivered data";
  EXPECT_EQ(stack_.Count("socket"), 1u);
  EXPECT_EQ(stack_.Count("sleep"), 0u);
}

TEST_F(BluetoothListener, LaterPassesBindToAnyRadio) {
  stack_.failOn["accept"] = 1;
  Start();
  AwaitAccepting(2);
  std::lock_guard lock(stack_.mutex);
  ASSERT_EQ(stack_.bound.size(), 2u);
  const uint8_t zero[6] = {};
  EXPECT_EQ(std::memcmp(stack_.bound[1].bdaddr, zero, sizeof zero), 0);
  EXPECT_EQ(stack_.bound[1].channel, 0);
}

SocketHandle ListeningSocket(int, int, int) {
  listenerThread.store(static_cast<pid_t>(::syscall(SYS_gettid)));
  fake->Note("socket");
  return listeningSocket;
}

SocketHandle RealAccept(SocketHandle s, sockaddr* address, socklen_t* length) {
  fake->Note("accept");
  return realAccept(s, address, length);
}

void CountSignal(int) { signalsCaught.fetch_add(1); }

// Whether thread `tid` of this process is blocked in accept.
bool InAccept(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  return static_cast<bool>(in >> number) && number == SYS_accept4;
}

bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST_F(BluetoothListener, SignalsWhileAcceptingNeitherEndThePassNorWithdrawTheRecord) {
  Winsock2EntryPoints fakes = Winsock2Entries;
  Winsock2Entries = Winsock2EntryPoints{};
  ASSERT_TRUE(LoadWinsock2());
  realAccept = Winsock2Entries.accept;
  Winsock2Entries = fakes;
  Winsock2Entries.socket = &ListeningSocket;
  Winsock2Entries.accept = &RealAccept;

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = "wendrix-bluetooth-test-" + std::to_string(::getpid());
  std::memcpy(address.sun_path + 1, name.data(), name.size());  // abstract
  const auto addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  listeningSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listeningSocket, 0);
  ASSERT_EQ(::bind(listeningSocket, reinterpret_cast<sockaddr*>(&address), addressLength), 0);
  ASSERT_EQ(::listen(listeningSocket, 4), 0);
  auto connectClient = [&] {
    const int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), addressLength), 0);
    return client;
  };

  // A handler installed without SA_RESTART: the signal interrupts accept.
  struct sigaction action {};
  action.sa_handler = &CountSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previousAction), 0);

  Start();
  AwaitAccepting(1);
  const pid_t tid = listenerThread.load();
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(Eventually([&] { return InAccept(tid); }));
    ASSERT_EQ(::syscall(SYS_tgkill, ::getpid(), tid, SIGUSR1), 0);
    ASSERT_TRUE(Eventually([&] { return signalsCaught.load() >= i; }));
  }

  // The same socket goes on accepting; the record stays.
  const int client = connectClient();
  ASSERT_TRUE(stack_.WaitUntil([&] { return stack_.accepted.size() == 1; }));
  EXPECT_EQ(stack_.CountNow("socket"), 1u);
  EXPECT_EQ(stack_.CountNow("register"), 1u);
  EXPECT_EQ(stack_.CountNow("delete"), 0u);
  EXPECT_EQ(stack_.CountNow("sleep"), 0u);

  ::close(client);
}

TEST_F(BluetoothListener, MissingEntriesOnlyMakeItWait) {
  Winsock2Entries.WSASetService = nullptr;
  Start();
  ASSERT_TRUE(stack_.WaitUntil([&] { return stack_.Count("sleep") >= 3; }));
  EXPECT_EQ(stack_.CountNow("socket"), 0u);
}

}  // namespace
}  // namespace wendrix
