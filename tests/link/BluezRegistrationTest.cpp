// The registration against a fake BlueZ ProfileManager1 on a private
// dbus-daemon that each test starts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <csignal>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/BluetoothServer.h"
#include "link/BluezRegistration.h"
#include "link/winsock2.h"
#include "PrivateBus.h"

extern char** environ;

namespace wendrix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kDeadline = 20s;

// How the fake BlueZ below treats the first registrations it is asked for.
struct FakeBluezScript {
  int refuse = 0;      // the first ones fail, and nothing is registered
  int unanswered = 0;  // then the next ones are registered, but never answered
};

// org.bluez with a ProfileManager1 that records what it is asked, refuses
// a second registration of one object and forgets the profiles of a
// connection that closes, as BlueZ does.
class FakeBluez {
 public:
  struct Call {
    std::string member;
    std::string sender;
    std::string path;
    std::string uuid;
    std::map<std::string, std::string> options;
  };
  using Script = FakeBluezScript;

  explicit FakeBluez(const std::string& address, Script script = {})
      : refuse_(script.refuse), unanswered_(script.unanswered) {
    bus_ = Connect(address);
    if (!bus_ ||
        sd_bus_add_object_vtable(bus_, nullptr, "/org/bluez", "org.bluez.ProfileManager1", kVtable, this) <
            0 ||
        sd_bus_add_match(bus_, nullptr,
                         "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged'",
                         &FakeBluez::OnOwnerChanged, this) < 0 ||
        sd_bus_request_name(bus_, "org.bluez", 0) < 0)
      return;
    thread_ = std::thread([this] {
      while (!stop_.load()) {
        while (sd_bus_process(bus_, nullptr) > 0) {
        }
        // A bus that has gone is waited out until the fake ends.
        if (sd_bus_wait(bus_, 20'000) < 0) std::this_thread::sleep_for(20ms);
      }
    });
  }
  ~FakeBluez() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    sd_bus_flush_close_unref(bus_);
  }

  std::vector<Call> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  bool WaitForCalls(size_t n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kDeadline, [&] { return calls_.size() >= n; });
  }
  // Until the profiles held are exactly those registered by `senders`.
  bool WaitForHolders(const std::set<std::string>& senders) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kDeadline, [&] {
      std::set<std::string> holders;
      for (const auto& held : held_) holders.insert(held.first);
      return holders == senders;
    });
  }

 private:
  static int OnRegister(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto& self = *static_cast<FakeBluez*>(userdata);
    Call call{"RegisterProfile", sd_bus_message_get_sender(m), {}, {}, {}};
    const char* path = nullptr;
    const char* uuid = nullptr;
    if (sd_bus_message_read(m, "os", &path, &uuid) < 0) return -EINVAL;
    call.path = path;
    call.uuid = uuid;
    sd_bus_message_enter_container(m, 'a', "{sv}");
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
      const char* key = nullptr;
      const char* value = nullptr;
      sd_bus_message_read(m, "s", &key);
      if (sd_bus_message_read(m, "v", "s", &value) < 0) sd_bus_message_skip(m, "v");
      call.options[key] = value ? value : "(not a string)";
      sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
    if (self.refuse_ > 0) {
      --self.refuse_;
      self.Record(std::move(call));
      return sd_bus_error_set(error, "org.bluez.Error.NotReady", "Resource Not Ready");
    }
    const bool known = !self.Hold(call.sender, call.path, true);
    self.Record(std::move(call));
    if (known) return sd_bus_error_set(error, "org.bluez.Error.AlreadyExists", "Already Exists");
    // Registered, but the caller is left without an answer, as by a BlueZ
    // that is too slow.
    if (self.unanswered_ > 0) {
      --self.unanswered_;
      return 1;
    }
    return sd_bus_reply_method_return(m, "");
  }

  static int OnUnregister(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto& self = *static_cast<FakeBluez*>(userdata);
    const char* path = nullptr;
    if (sd_bus_message_read(m, "o", &path) < 0) return -EINVAL;
    Call call{"UnregisterProfile", sd_bus_message_get_sender(m), path, {}, {}};
    const bool known = self.Hold(call.sender, call.path, false);
    self.Record(std::move(call));
    if (!known) return sd_bus_error_set(error, "org.bluez.Error.DoesNotExist", "Does Not Exist");
    return sd_bus_reply_method_return(m, "");
  }

  static int OnOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto& self = *static_cast<FakeBluez*>(userdata);
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0 || *newOwner) return 0;
    std::lock_guard lock(self.mutex_);
    std::erase_if(self.held_, [&](const auto& held) { return held.first == name; });
    self.changed_.notify_all();
    return 0;
  }

  // Adds or removes a profile; false when there was nothing to change.
  bool Hold(const std::string& sender, const std::string& path, bool add) {
    std::lock_guard lock(mutex_);
    const bool changed = add ? held_.emplace(sender, path).second : held_.erase({sender, path}) > 0;
    changed_.notify_all();
    return changed;
  }

  void Record(Call call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
    changed_.notify_all();
  }

  static const sd_bus_vtable kVtable[];

  sd_bus* bus_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Call> calls_;
  std::set<std::pair<std::string, std::string>> held_;  // sender, object path
  int refuse_;                                          // bus thread only
  int unanswered_;                                      // bus thread only
};

const sd_bus_vtable FakeBluez::kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("RegisterProfile", "osa{sv}", "", &FakeBluez::OnRegister, 0),
    SD_BUS_METHOD("UnregisterProfile", "o", "", &FakeBluez::OnUnregister, 0),
    SD_BUS_VTABLE_END,
};

// The record the listener hands over, on `channel`.
struct ListenerRecord {
  explicit ListenerRecord(uint8_t channel, const char* comment = "More info on https://wendrix.example") {
    address.family = AF_BLUETOOTH;
    address.channel = channel;
    csAddr.LocalAddr = {reinterpret_cast<sockaddr*>(&address), sizeof address};
    csAddr.RemoteAddr = csAddr.LocalAddr;
    csAddr.iSocketType = SOCK_STREAM;
    csAddr.iProtocol = kBtProtoRfcomm;
    record.dwSize = sizeof record;
    record.lpszServiceInstanceName = kBluetoothServiceName;
    record.lpServiceClassId = &BluetoothServiceClass;
    record.lpszComment = comment;
    record.dwNameSpace = NS_BTH;
    record.dwNumberOfCsAddrs = 1;
    record.lpcsaBuffer = &csAddr;
  }
  ListenerRecord(const ListenerRecord&) = delete;

  SockAddrRfcomm address{};
  CsAddrInfo csAddr{};
  WSAQuerySet record{};
};

constexpr char kClass[] = "9e0f781f-ad33-4f5b-991f-e32e2f2b2cd7";

int Register(const ListenerRecord& r) { return SetServiceBluez(&r.record, RNRSERVICE_REGISTER, 0); }
int Withdraw() { return SetServiceBluez(nullptr, RNRSERVICE_DELETE, 0); }

std::vector<std::string> Members(const std::vector<FakeBluez::Call>& calls) {
  std::vector<std::string> out;
  for (const auto& c : calls) out.push_back(c.member);
  return out;
}

class BluezRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus_.ready()) << "dbus-daemon did not start: " << bus_.log();
    SetBluezBusAddress(bus_.address());
  }
  void TearDown() override {
    Withdraw();
    SetBluezCallTimeout(5s);
  }

  PrivateBus bus_;
};

TEST_F(BluezRegistration, PublishesTheRecordThroughProfileManager) {
  FakeBluez bluez(bus_.address());
  ASSERT_EQ(Register(ListenerRecord(5)), 0);
  const auto calls = bluez.Calls();
  ASSERT_EQ(Members(calls), std::vector<std::string>{"RegisterProfile"});
  const FakeBluez::Call& c = calls[0];
  EXPECT_EQ(c.path, kProfileObjectPath);
  EXPECT_EQ(c.uuid, kClass);
  EXPECT_EQ(c.options.at("Role"), "server");
  EXPECT_EQ(c.options.count("Channel"), 0u);  // BlueZ must not listen itself
  const std::string& xml = c.options.at("ServiceRecord");
  EXPECT_NE(xml.find(std::string("<attribute id=\"0x0001\"><sequence><uuid value=\"") + kClass),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<uuid value=\"0x0003\" /><uint8 value=\"0x05\" />"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<attribute id=\"0x0100\"><text value=\"Wendrix bluetooth server\" />"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<attribute id=\"0x0101\"><text value=\"More info on https://wendrix.example\" />"),
            std::string::npos)
      << xml;
}

TEST_F(BluezRegistration, WithdrawsTheEarlierRecordBeforeRegisteringAgain) {
  FakeBluez bluez(bus_.address());
  ASSERT_EQ(Register(ListenerRecord(5)), 0);
  ASSERT_EQ(Register(ListenerRecord(6)), 0);
  auto calls = bluez.Calls();
  ASSERT_EQ(Members(calls),
            (std::vector<std::string>{"RegisterProfile", "UnregisterProfile", "RegisterProfile"}));
  EXPECT_NE(calls[2].options.at("ServiceRecord").find("<uint8 value=\"0x06\" />"), std::string::npos);

  EXPECT_EQ(Withdraw(), 0);
  EXPECT_EQ(Withdraw(), -1);  // nothing left
  EXPECT_EQ(Members(bluez.Calls()).back(), "UnregisterProfile");
  EXPECT_EQ(bluez.Calls().size(), 4u);
}

TEST_F(BluezRegistration, RegistrationAnsweredTooLateIsNotLeftBehind) {
  FakeBluez bluez(bus_.address(), {.unanswered = 1});
  SetBluezCallTimeout(300ms);
  EXPECT_EQ(Register(ListenerRecord(5)), -1);  // BlueZ took it, but too late
  SetBluezCallTimeout(5s);

  ASSERT_EQ(Register(ListenerRecord(6)), 0);  // not refused as AlreadyExists
  // Only the new registration stays: the one of the timed-out call went
  // with its connection.
  const auto calls = bluez.Calls();
  ASSERT_EQ(Members(calls), (std::vector<std::string>{"RegisterProfile", "RegisterProfile"}));
  EXPECT_NE(calls[1].options.at("ServiceRecord").find("<uint8 value=\"0x06\" />"), std::string::npos);
  EXPECT_TRUE(bluez.WaitForHolders({calls[1].sender}));
}

TEST_F(BluezRegistration, FailsCleanlyWithoutBluezOrBus) {
  EXPECT_EQ(Register(ListenerRecord(5)), -1);  // no org.bluez on the bus

  {
    FakeBluez bluez(bus_.address());
    EXPECT_EQ(Register(ListenerRecord(5)), 0);  // the same connection serves once it is there
  }

  SetBluezBusAddress("unix:path=/nonexistent/wendrix-bus");
  ListenerRecord r(5);
  EXPECT_EQ(Register(r), -1);
  SetBluezBusAddress(bus_.address());
}

TEST_F(BluezRegistration, PublishesAgainWhenBluezRestarts) {
  auto first = std::make_unique<FakeBluez>(bus_.address());
  ASSERT_EQ(Register(ListenerRecord(9)), 0);
  first.reset();  // BlueZ goes, and forgets every profile

  FakeBluez second(bus_.address());
  ASSERT_TRUE(second.WaitForCalls(1));
  auto calls = second.Calls();
  EXPECT_EQ(calls[0].member, "RegisterProfile");
  EXPECT_NE(calls[0].options.at("ServiceRecord").find("<uint8 value=\"0x09\" />"), std::string::npos);

  EXPECT_EQ(Withdraw(), 0);
  EXPECT_EQ(Members(second.Calls()), (std::vector<std::string>{"RegisterProfile", "UnregisterProfile"}));
}

TEST_F(BluezRegistration, PublishesAgainOnANewBusAtTheSameAddress) {
  auto first = std::make_unique<FakeBluez>(bus_.address());
  ASSERT_EQ(Register(ListenerRecord(9)), 0);
  bus_.Kill();  // the bus goes, and BlueZ with it
  first.reset();

  ASSERT_TRUE(bus_.Start()) << bus_.log();
  FakeBluez second(bus_.address());
  ASSERT_TRUE(second.WaitForCalls(1));
  const auto calls = second.Calls();
  EXPECT_EQ(calls[0].member, "RegisterProfile");
  EXPECT_NE(calls[0].options.at("ServiceRecord").find("<uint8 value=\"0x09\" />"), std::string::npos);
  EXPECT_TRUE(second.WaitForHolders({calls[0].sender}));

  EXPECT_EQ(Withdraw(), 0);
  EXPECT_TRUE(second.WaitForHolders({}));
}

// After BlueZ restarts, it first misbehaves as `script` says; the record is
// published all the same, and only once.
void RepublishesDespite(const std::string& address, FakeBluez::Script script) {
  SetBluezCallTimeout(300ms);
  auto first = std::make_unique<FakeBluez>(address);
  ASSERT_EQ(Register(ListenerRecord(9)), 0);
  first.reset();

  FakeBluez second(address, script);
  ASSERT_TRUE(second.WaitForCalls(2));
  const auto calls = second.Calls();
  EXPECT_EQ(Members(calls), (std::vector<std::string>{"RegisterProfile", "RegisterProfile"}));
  EXPECT_NE(calls[1].options.at("ServiceRecord").find("<uint8 value=\"0x09\" />"), std::string::npos);
  // An unanswered try went with its connection.
  EXPECT_TRUE(second.WaitForHolders({calls[1].sender}));

  EXPECT_EQ(Withdraw(), 0);
  EXPECT_TRUE(second.WaitForHolders({}));
}

TEST_F(BluezRegistration, RepublishingRefusedIsTriedAgain) {
  RepublishesDespite(bus_.address(), {.refuse = 1});
}

TEST_F(BluezRegistration, RepublishingUnansweredIsTriedAgain) {
  RepublishesDespite(bus_.address(), {.unanswered = 1});
}

// The Bluetooth listener on a stand-in RFCOMM socket (channel 5), which
// registers through the link under test and counts the outcomes.
class ListenerOnFakeSocket {
 public:
  ListenerOnFakeSocket() {
    self_ = this;
    saved_ = Winsock2Entries;
    Winsock2Entries = Winsock2EntryPoints{};
    Winsock2Entries.socket = [](int, int, int) -> SocketHandle { return 100; };
    Winsock2Entries.bind = [](SocketHandle, const sockaddr*, socklen_t) { return 0; };
    Winsock2Entries.listen = [](SocketHandle, int) { return 0; };
    Winsock2Entries.getsockname = [](SocketHandle, sockaddr* address, socklen_t* length) {
      SockAddrRfcomm rfcomm{};
      rfcomm.family = AF_BLUETOOTH;
      rfcomm.channel = 5;
      std::memcpy(address, &rfcomm, sizeof rfcomm);
      *length = sizeof rfcomm;
      return 0;
    };
    Winsock2Entries.WSASetService = &SetService;
    Winsock2Entries.accept = &Accept;
    Winsock2Entries.closesocket = [](SocketHandle) { return 0; };
    server_ = std::make_unique<TBluetoothServer>([](SocketHandle, uint64_t) {},
                                                 [](uint32_t) { std::this_thread::sleep_for(1ms); });
    server_->Start();
  }
  ~ListenerOnFakeSocket() {
    Stop();
    Winsock2Entries = saved_;
    self_ = nullptr;
  }

  // Makes accept fail, which withdraws the record, and waits for the end.
  void Stop() {
    if (!server_) return;
    server_->Terminate();
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    server_->WaitFor();
    server_.reset();
  }

  bool WaitUntil(const std::function<bool()>& condition) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kDeadline, condition);
  }

  // Guarded by the mutex, as in a WaitUntil condition.
  int registered = 0;
  int refused = 0;
  int withdrawn = 0;
  bool accepting = false;

 private:
  static int SetService(const WSAQuerySet* record, int operation, uint32_t flags) {
    const int r = SetServiceBluez(record, operation, flags);
    std::lock_guard lock(self_->mutex_);
    if (operation != RNRSERVICE_REGISTER)
      ++self_->withdrawn;
    else
      ++(r == 0 ? self_->registered : self_->refused);
    self_->changed_.notify_all();
    return r;
  }

  static SocketHandle Accept(SocketHandle, sockaddr*, socklen_t*) {
    std::unique_lock lock(self_->mutex_);
    self_->accepting = true;
    self_->changed_.notify_all();
    self_->changed_.wait(lock, [] { return self_->stopping_; });
    self_->accepting = false;
    return -1;
  }

  static inline ListenerOnFakeSocket* self_ = nullptr;
  Winsock2EntryPoints saved_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::unique_ptr<TBluetoothServer> server_;
};

TEST_F(BluezRegistration, ListenerWaitsOutAStalledBusAndPublishesOnceItResumes) {
  FakeBluez bluez(bus_.address());
  SetBluezCallTimeout(300ms);
  bus_.Stop();
  ListenerOnFakeSocket listener;
  // Registrations return while the bus stands still, and the listener
  // goes on trying.
  ASSERT_TRUE(listener.WaitUntil([&] { return listener.refused >= 2; }));
  EXPECT_TRUE(listener.WaitUntil([&] { return listener.registered == 0; }));

  bus_.Continue();
  ASSERT_TRUE(listener.WaitUntil([&] { return listener.registered == 1 && listener.accepting; }));
  const auto calls = bluez.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().member, "RegisterProfile");
  EXPECT_TRUE(bluez.WaitForHolders({calls.back().sender}));

  // The withdrawal, too, returns while the bus stands still; the record
  // goes with the connection closed meanwhile.
  bus_.Stop();
  listener.Stop();
  EXPECT_EQ(listener.withdrawn, 1);
  bus_.Continue();
  EXPECT_TRUE(bluez.WaitForHolders({}));
}

TEST_F(BluezRegistration, ProfileObjectAnswersBluez) {
  FakeBluez bluez(bus_.address());
  ASSERT_EQ(Register(ListenerRecord(5)), 0);
  const std::string registrant = bluez.Calls().at(0).sender;

  sd_bus* peer = Connect(bus_.address());
  ASSERT_NE(peer, nullptr);
  auto call = [&](const char* member, const char* types, auto... args) {
    sd_bus_error error{};
    sd_bus_message* reply = nullptr;
    const int r = sd_bus_call_method(peer, registrant.c_str(), kProfileObjectPath, "org.bluez.Profile1",
                                     member, &error, &reply, types, args...);
    std::string outcome = r >= 0 ? "ok" : (error.name ? error.name : "failed");
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return outcome;
  };
  EXPECT_EQ(call("RequestDisconnection", "o", "/org/bluez/hci0/dev_11_22_33_44_55_66"), "ok");

  // A connection handed over is refused, and its descriptor not kept.
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  EXPECT_EQ(call("NewConnection", "oha{sv}", "/org/bluez/hci0/dev_11_22_33_44_55_66", pair[1], 0),
            "org.bluez.Error.Rejected");
  ::close(pair[1]);
  pollfd p{pair[0], POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kDeadline).count())), 1);
  char byte;
  EXPECT_EQ(::read(pair[0], &byte, 1), 0);  // every copy of the other end is closed
  ::close(pair[0]);

  EXPECT_EQ(call("Release", ""), "ok");
  sd_bus_flush_close_unref(peer);
}

TEST(ServiceRecord, RejectsRecordsThatCannotBePublished) {
  auto rejected = [](auto change) {
    ListenerRecord r(5);
    change(r);
    errno = 0;
    const bool refused = SetServiceBluez(&r.record, RNRSERVICE_REGISTER, 0) == -1 && errno == EINVAL;
    return refused && BuildServiceRecord(r.record).empty();
  };
  EXPECT_TRUE(rejected([](ListenerRecord& r) { r.record.dwNameSpace = 0; }));
  EXPECT_TRUE(rejected([](ListenerRecord& r) { r.record.lpServiceClassId = nullptr; }));
  EXPECT_TRUE(rejected([](ListenerRecord& r) { r.record.dwNumberOfCsAddrs = 0; }));
  EXPECT_TRUE(rejected([](ListenerRecord& r) { r.record.lpcsaBuffer = nullptr; }));
  EXPECT_TRUE(rejected([](ListenerRecord& r) { r.address.channel = 0; }));
  EXPECT_TRUE(rejected([](ListenerRecord& r) { r.address.channel = 31; }));
  EXPECT_TRUE(rejected([](ListenerRecord& r) { r.address.family = AF_INET; }));
  EXPECT_TRUE(rejected([](ListenerRecord& r) { r.csAddr.LocalAddr.iSockaddrLength = 4; }));
  EXPECT_EQ(SetServiceBluez(nullptr, RNRSERVICE_REGISTER, 0), -1);
  EXPECT_EQ(SetServiceBluez(nullptr, 7, 0), -1);
}

TEST(ServiceRecord, TextsAreEscaped) {
  ListenerRecord r(30, "More info on https://x.example/?a=1&b=\"<2>\"");
  const std::string xml = BuildServiceRecord(r.record);
  EXPECT_NE(xml.find("<text value=\"More info on https://x.example/?a=1&amp;b=&quot;&lt;2&gt;&quot;\" />"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<uint8 value=\"0x1e\" />"), std::string::npos);
}

}  // namespace
}  // namespace wendrix
