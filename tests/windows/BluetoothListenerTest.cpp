// The Bluetooth listener on Windows. Wine has no RFCOMM sockets and only
// a stub for WSASetService, so the real calls show the retry loop, and
// faked entries show the calls and the registration record, field by field.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BuildConfig.h"
#include "FakeDriver.h"
#include "LinkTestSupport.h"
#include "Winsock2Library.h"
#include "joystick/ControlState.h"
#include "link/BluetoothServer.h"
#include "link/winsock2.h"

namespace wendrix {
namespace {

using test::Eventually;

// A deep copy of one registration, taken during the call.
struct Registration {
  int operation = -1;
  DWORD flags = 0;
  WSAQUERYSETW record{};
  std::wstring name, comment;
  GUID serviceClass{};
  std::vector<CSADDR_INFO> addresses;
  std::vector<SOCKADDR_BTH> local, remote;
};

struct FakeRadio {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> calls;
  std::vector<SOCKADDR_BTH> bound;
  std::vector<int> boundLengths;
  std::vector<int> backlogs;
  std::vector<Registration> registrations;
  int acceptsLeft = 2;  // two connections, then accept fails
  bool stopping = false;

  void Note(std::string call) {
    std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
    changed.notify_all();
  }
};
FakeRadio* radio = nullptr;

constexpr SocketHandle kListening = 100;
constexpr ULONG kAssignedChannel = 5;

SocketHandle FakeSocket(int family, int type, int protocol) {
  EXPECT_EQ(family, AF_BTH);
  EXPECT_EQ(type, SOCK_STREAM);
  EXPECT_EQ(protocol, BTHPROTO_RFCOMM);
  radio->Note("socket");
  return kListening;
}
int FakeBind(SocketHandle s, const sockaddr* address, socklen_t length) {
  EXPECT_EQ(s, kListening);
  SOCKADDR_BTH a{};
  std::memcpy(&a, address, sizeof a);
  {
    std::lock_guard lock(radio->mutex);
    radio->bound.push_back(a);
    radio->boundLengths.push_back(length);
  }
  radio->Note("bind");
  return 0;
}
int FakeListen(SocketHandle, int backlog) {
  {
    std::lock_guard lock(radio->mutex);
    radio->backlogs.push_back(backlog);
  }
  radio->Note("listen");
  return 0;
}
int FakeGetSockName(SocketHandle, sockaddr* address, socklen_t* length) {
  EXPECT_EQ(*length, 30);
  auto* a = reinterpret_cast<SOCKADDR_BTH*>(address);
  a->btAddr = 0x001122334455;
  a->port = kAssignedChannel;
  radio->Note("getsockname");
  return 0;
}
SocketHandle FakeAccept(SocketHandle s, sockaddr* address, socklen_t* length) {
  EXPECT_EQ(s, kListening);
  // The peer's radio is asked for, for the status page.
  EXPECT_NE(address, nullptr);
  if (length) {
    EXPECT_EQ(*length, 30);
  }
  radio->Note("accept");
  std::lock_guard lock(radio->mutex);
  if (radio->acceptsLeft == 0) return kInvalidSocket;
  const SocketHandle accepted = 200 + radio->acceptsLeft--;
  if (address) reinterpret_cast<SOCKADDR_BTH*>(address)->btAddr = 0x00AABBCCDD00 + accepted;
  return accepted;
}
int FakeClose(SocketHandle s) {
  radio->Note("close " + std::to_string(s));
  return 0;
}

// The wide registration entry of ws2_32 as the adapter calls it.
INT WSAAPI FakeSetServiceW(LPWSAQUERYSETW q, WSAESETSERVICEOP operation, DWORD flags) {
  Registration r;
  r.operation = operation;
  r.flags = flags;
  r.record = *q;
  if (q->lpszServiceInstanceName) r.name = q->lpszServiceInstanceName;
  if (q->lpszComment) r.comment = q->lpszComment;
  if (q->lpServiceClassId) r.serviceClass = *q->lpServiceClassId;
  for (DWORD i = 0; i < q->dwNumberOfCsAddrs; ++i) {
    const CSADDR_INFO& info = q->lpcsaBuffer[i];
    r.addresses.push_back(info);
    SOCKADDR_BTH local{}, remote{};
    std::memcpy(&local, info.LocalAddr.lpSockaddr, sizeof local);
    std::memcpy(&remote, info.RemoteAddr.lpSockaddr, sizeof remote);
    r.local.push_back(local);
    r.remote.push_back(remote);
  }
  {
    std::lock_guard lock(radio->mutex);
    radio->registrations.push_back(std::move(r));
  }
  radio->Note(operation == RNRSERVICE_REGISTER ? "register" : "delete");
  return 0;
}

std::vector<SocketHandle> gAccepted;
std::vector<uint64_t> gRadios;
void OnAccepted(SocketHandle s, uint64_t peerRadio) {
  gAccepted.push_back(s);
  gRadios.push_back(peerRadio);
}

std::atomic<int> gSleeps{0};
void CountingSleep(uint32_t milliseconds) {
  EXPECT_EQ(milliseconds, 1000u);
  ++gSleeps;
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

constexpr GUID kServiceClass = {0x9E0F781F, 0xAD33, 0x4F5B, {0x99, 0x1F, 0xE3, 0x2E, 0x2F, 0x2B, 0x2C, 0xD7}};

class BluetoothListenerWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetProcessState();
    radio = &radio_;
    gAccepted.clear();
    gRadios.clear();
    gSleeps = 0;
    savedEntries_ = Winsock2Entries;
    savedLibrary_ = Ws2_32;
  }
  void TearDown() override {
    if (server_) {
      server_->Terminate();
      server_->WaitFor();
    }
    Winsock2Entries = savedEntries_;
    Ws2_32 = savedLibrary_;
    radio = nullptr;
  }
  void Start() {
    server_ = std::make_unique<TBluetoothServer>(&OnAccepted, &CountingSleep);
    server_->Start();
  }
  void FakeTheRadio() {
    Winsock2Entries.socket = &FakeSocket;
    Winsock2Entries.bind = &FakeBind;
    Winsock2Entries.listen = &FakeListen;
    Winsock2Entries.getsockname = &FakeGetSockName;
    Winsock2Entries.accept = &FakeAccept;
    Winsock2Entries.closesocket = &FakeClose;
    Winsock2Entries.WSASetService = &SetServiceWin32;
    Ws2_32.WSASetService = &FakeSetServiceW;
    Ws2_32.setServiceIsWide = true;
  }
  bool CallsReach(size_t n) {
    return Eventually([&] {
      std::lock_guard lock(radio_.mutex);
      return radio_.calls.size() >= n;
    });
  }

  FakeRadio radio_;
  Winsock2EntryPoints savedEntries_;
  Winsock2Library savedLibrary_;
  std::unique_ptr<TBluetoothServer> server_;
};

// Wine: socket(AF_BTH, ...) fails (WSAEPROTONOSUPPORT, 10043); the
// listener keeps trying once a second for as long as the process runs.
TEST_F(BluetoothListenerWin32, WithoutRfcommTheListenerRetriesEverySecond) {
  const SocketHandle s = Winsock2Entries.socket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM);
  if (s != kInvalidSocket) {
    Winsock2Entries.closesocket(s);
    GTEST_SKIP() << "this system has RFCOMM sockets";
  }
  EXPECT_EQ(Winsock2Entries.WSAGetLastError(), WSAEPROTONOSUPPORT);
  Start();
  EXPECT_TRUE(Eventually([] { return gSleeps >= 3; }));
  EXPECT_TRUE(gAccepted.empty());
}

TEST_F(BluetoothListenerWin32, RegistersTheServiceRecordFieldByField) {
  FakeTheRadio();
  Start();
  // socket, bind, listen, getsockname, register, accept x3, delete, close.
  ASSERT_TRUE(CallsReach(10));
  server_->Terminate();
  server_->WaitFor();
  server_.reset();

  std::lock_guard lock(radio_.mutex);
  const std::vector<std::string> firstPass(radio_.calls.begin(), radio_.calls.begin() + 10);
  EXPECT_EQ(firstPass, (std::vector<std::string>{"socket", "bind", "listen", "getsockname", "register",
                                                 "accept", "accept", "accept", "delete", "close 100"}));
  EXPECT_EQ(gAccepted, (std::vector<SocketHandle>{202, 201}));
  // Each with its phone's radio address, for the session to show.
  EXPECT_EQ(gRadios, (std::vector<uint64_t>{0x00AABBCCDDCAu, 0x00AABBCCDDC9u}));

  // bind: any radio, any channel, the service class, 30 bytes.
  ASSERT_FALSE(radio_.bound.empty());
  const SOCKADDR_BTH& bound = radio_.bound[0];
  EXPECT_EQ(radio_.boundLengths[0], 30);
  EXPECT_EQ(bound.addressFamily, AF_BTH);
  EXPECT_EQ(bound.btAddr, 0u);
  EXPECT_EQ(bound.port, BT_PORT_ANY);
  EXPECT_TRUE(IsEqualGUID(bound.serviceClassId, kServiceClass));
  EXPECT_EQ(radio_.backlogs[0], 4);

  ASSERT_GE(radio_.registrations.size(), 2u);
  const Registration& r = radio_.registrations[0];
  EXPECT_EQ(r.operation, RNRSERVICE_REGISTER);
  EXPECT_EQ(r.flags, 0u);
  const WSAQUERYSETW& q = r.record;
  EXPECT_EQ(q.dwSize, sizeof(WSAQUERYSETW));
  EXPECT_EQ(q.dwSize, 120u);  // its own size in this 64-bit build
  EXPECT_EQ(r.name, L"Wendrix bluetooth server");
  const std::string comment = std::string("More info on ") + kWebSite;
  EXPECT_EQ(r.comment, std::wstring(comment.begin(), comment.end()));
  EXPECT_TRUE(IsEqualGUID(r.serviceClass, kServiceClass));
  EXPECT_EQ(q.dwNameSpace, 16u);  // NS_BTH
  EXPECT_EQ(q.lpVersion, nullptr);
  EXPECT_EQ(q.lpNSProviderId, nullptr);
  EXPECT_EQ(q.lpszContext, nullptr);
  EXPECT_EQ(q.dwNumberOfProtocols, 0u);
  EXPECT_EQ(q.lpafpProtocols, nullptr);
  EXPECT_EQ(q.lpszQueryString, nullptr);
  EXPECT_EQ(q.lpBlob, nullptr);
  EXPECT_EQ(q.dwOutputFlags, 0u);
  ASSERT_EQ(q.dwNumberOfCsAddrs, 1u);
  ASSERT_EQ(r.addresses.size(), 1u);
  const CSADDR_INFO& info = r.addresses[0];
  EXPECT_EQ(info.LocalAddr.iSockaddrLength, 30);
  EXPECT_EQ(info.RemoteAddr.iSockaddrLength, 30);
  EXPECT_EQ(info.iSocketType, SOCK_STREAM);
  EXPECT_EQ(info.iProtocol, BTHPROTO_RFCOMM);
  for (const SOCKADDR_BTH* a : {&r.local[0], &r.remote[0]}) {
    EXPECT_EQ(a->addressFamily, AF_BTH);
    EXPECT_EQ(a->port, kAssignedChannel);  // as getsockname reported it
    EXPECT_EQ(a->btAddr, 0x001122334455u);
    EXPECT_TRUE(IsEqualGUID(a->serviceClassId, kServiceClass));
  }

  // The failed accept withdraws this same record before the socket closes.
  const Registration& withdrawn = radio_.registrations[1];
  EXPECT_EQ(withdrawn.operation, RNRSERVICE_DELETE);
  EXPECT_EQ(withdrawn.name, r.name);
  EXPECT_EQ(withdrawn.local[0].port, kAssignedChannel);
}

std::string gAnsiName, gAnsiComment;
DWORD gAnsiSize = 0;
INT WSAAPI FakeSetServiceA(LPWSAQUERYSETA q, WSAESETSERVICEOP, DWORD) {
  gAnsiSize = q->dwSize;
  gAnsiName = q->lpszServiceInstanceName ? q->lpszServiceInstanceName : "";
  gAnsiComment = q->lpszComment ? q->lpszComment : "";
  return 0;
}

TEST_F(BluetoothListenerWin32, TheAnsiEntryGetsAnAnsiRecord) {
  FakeTheRadio();
  Ws2_32.WSASetService =
      reinterpret_cast<decltype(Ws2_32.WSASetService)>(reinterpret_cast<void*>(&FakeSetServiceA));
  Ws2_32.setServiceIsWide = false;
  Start();
  ASSERT_TRUE(CallsReach(5));
  server_->Terminate();
  server_->WaitFor();
  server_.reset();
  EXPECT_EQ(gAnsiSize, sizeof(WSAQUERYSETA));
  EXPECT_EQ(gAnsiName, "Wendrix bluetooth server");
  EXPECT_EQ(gAnsiComment, std::string("More info on ") + kWebSite);
}

}  // namespace
}  // namespace wendrix
