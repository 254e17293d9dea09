#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "link/BluezRegistration.h"

namespace wendrix {

std::string GuidToString(const Guid& g) {
  char text[37];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

namespace {

std::string XmlEscaped(const char* text) {
  std::string out;
  for (const char* p = text ? text : ""; *p; ++p) {
    switch (*p) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += *p;
    }
  }
  return out;
}

const SockAddrRfcomm* RfcommAddressOf(const WSAQuerySet& record) {
  if (record.dwNumberOfCsAddrs < 1 || !record.lpcsaBuffer) return nullptr;
  const CsAddrInfo& info = record.lpcsaBuffer[0];
  const SocketAddress& local = info.LocalAddr;
  if (info.iProtocol != kBtProtoRfcomm || !local.lpSockaddr ||
      local.iSockaddrLength < static_cast<int>(sizeof(SockAddrRfcomm)))
    return nullptr;
  const auto* address = reinterpret_cast<const SockAddrRfcomm*>(local.lpSockaddr);
  if (address->family != AF_BLUETOOTH || address->channel < 1 || address->channel > 30)
    return nullptr;
  return address;
}

}  // namespace

std::string BuildServiceRecord(const WSAQuerySet& record) {
  if (record.dwSize < sizeof(WSAQuerySet) || record.dwNameSpace != NS_BTH ||
      !record.lpServiceClassId)
    return {};
  const SockAddrRfcomm* address = RfcommAddressOf(record);
  if (!address) return {};

  char channel[8];
  std::snprintf(channel, sizeof channel, "0x%02x", address->channel);
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<record>\n";
  // ServiceClassIDList
  xml += "  <attribute id=\"0x0001\"><sequence><uuid value=\"" +
         GuidToString(*record.lpServiceClassId) + "\" /></sequence></attribute>\n";
  // ProtocolDescriptorList: L2CAP, then RFCOMM on the channel
  xml += "  <attribute id=\"0x0004\"><sequence>"
         "<sequence><uuid value=\"0x0100\" /></sequence>"
         "<sequence><uuid value=\"0x0003\" /><uint8 value=\"" +
         std::string(channel) + "\" /></sequence></sequence></attribute>\n";
  // BrowseGroupList: the public browse group
  xml += "  <attribute id=\"0x0005\"><sequence><uuid value=\"0x1002\" /></sequence></attribute>\n";
  // LanguageBaseAttributeIDList: English, UTF-8, texts from 0x0100 on
  xml += "  <attribute id=\"0x0006\"><sequence><uint16 value=\"0x656e\" />"
         "<uint16 value=\"0x006a\" /><uint16 value=\"0x0100\" /></sequence></attribute>\n";
  // ServiceName and ServiceDescription
  xml += "  <attribute id=\"0x0100\"><text value=\"" +
         XmlEscaped(record.lpszServiceInstanceName) + "\" /></attribute>\n";
  xml += "  <attribute id=\"0x0101\"><text value=\"" + XmlEscaped(record.lpszComment) +
         "\" /></attribute>\n";
  xml += "</record>\n";
  return xml;
}

namespace {

constexpr char kBluezService[] = "org.bluez";
constexpr char kBluezPath[] = "/org/bluez";
constexpr char kProfileManager[] = "org.bluez.ProfileManager1";
constexpr char kBluezOwnerRule[] =
    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
    "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='org.bluez'";

struct Profile {
  std::string uuid;
  std::string record;
  std::string name;
};

// Owns the bus connection on a thread of its own, which answers BlueZ's
// calls to our profile object and publishes the record again when BlueZ
// restarts. Callers hand it work and wait for the result, so sd-bus is
// only ever used on that thread.
class BluezLink {
 public:
  static BluezLink& Get() {
    // Like its thread, it lives until the process ends.
    static auto* link = new BluezLink;
    return *link;
  }

  // Runs `work` on the bus thread; its result, 0 or a negative errno.
  int Run(const std::function<int(BluezLink&)>& work);

  void SetAddress(const std::string& address) {
    std::lock_guard lock(mutex_);
    address_ = address;
  }
  void SetCallTimeout(uint64_t usec) { callTimeoutUsec_.store(usec, std::memory_order_relaxed); }

  int Register(const Profile& profile);
  int Unregister();

 private:
  struct Job {
    const std::function<int(BluezLink&)>* work;
    int result = -EIO;
    bool done = false;
  };

  void Loop();
  void RunJobs();
  void Process();
  int PollTimeout();
  int Connect();
  void Disconnect();
  bool DisconnectIfClosed();
  void Withdraw();
  int NewProfileManagerCall(sd_bus_message** call, const char* member);
  int SendRegisterProfile(const Profile& profile, sd_bus_message** reply, bool async);

  static int OnRelease(sd_bus_message* m, void*, sd_bus_error*);
  static int OnNewConnection(sd_bus_message* m, void*, sd_bus_error*);
  static int OnRequestDisconnection(sd_bus_message* m, void*, sd_bus_error*);
  static int OnBluezOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int OnRegisterReply(sd_bus_message* m, void* userdata, sd_bus_error*);

  static const sd_bus_vtable kProfileVtable[];

  std::mutex mutex_;
  std::condition_variable done_;
  std::deque<Job*> jobs_;
  std::string address_;
  int wake_ = -1;
  std::atomic<uint64_t> callTimeoutUsec_{5'000'000};

  // Bus thread only.
  sd_bus* bus_ = nullptr;
  std::optional<Profile> wanted_;  // the record that should be published
  std::string owner_;              // the BlueZ instance that holds it
  uintptr_t generation_ = 0;       // tells replies to superseded requests apart
};

const sd_bus_vtable BluezLink::kProfileVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Release", "", "", &BluezLink::OnRelease, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("NewConnection", "oha{sv}", "", &BluezLink::OnNewConnection,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("RequestDisconnection", "o", "", &BluezLink::OnRequestDisconnection,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

int BluezLink::Run(const std::function<int(BluezLink&)>& work) {
  Job job{&work};
  std::unique_lock lock(mutex_);
  if (wake_ < 0) {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) return -errno;
    try {
      std::thread(&BluezLink::Loop, this).detach();
    } catch (...) {
      ::close(wake_);
      wake_ = -1;
      return -EAGAIN;
    }
  }
  jobs_.push_back(&job);
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
  done_.wait(lock, [&] { return job.done; });
  return job.result;
}

void BluezLink::Loop() {
  for (;;) {
    // A connection that has gone is noticed before the next job uses it.
    Process();
    RunJobs();
    Process();
    pollfd fds[2] = {{wake_, POLLIN, 0}, {-1, 0, 0}};
    int timeout = -1;
    if (bus_) {
      const int events = sd_bus_get_events(bus_);
      if (events >= 0) {
        fds[1] = {sd_bus_get_fd(bus_), static_cast<short>(events), 0};
        timeout = PollTimeout();
      } else {
        Disconnect();
      }
    }
    if (::poll(fds, bus_ ? 2 : 1, timeout) > 0 && (fds[0].revents & POLLIN)) {
      uint64_t count;
      [[maybe_unused]] ssize_t n = ::read(wake_, &count, sizeof count);
    }
  }
}

void BluezLink::RunJobs() {
  for (;;) {
    Job* job;
    {
      std::lock_guard lock(mutex_);
      if (jobs_.empty()) return;
      job = jobs_.front();
      jobs_.pop_front();
    }
    int result;
    try {
      result = (*job->work)(*this);
    } catch (...) {
      result = -ENOMEM;
    }
    {
      std::lock_guard lock(mutex_);
      job->result = result;
      job->done = true;
    }
    done_.notify_all();
  }
}

void BluezLink::Process() {
  while (bus_) {
    const int r = sd_bus_process(bus_, nullptr);
    if (r < 0) Disconnect();
    if (r <= 0) return;
  }
}

int BluezLink::PollTimeout() {
  uint64_t until = 0;
  if (sd_bus_get_timeout(bus_, &until) < 0 || until == UINT64_MAX) return -1;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t nowUsec =
      static_cast<uint64_t>(now.tv_sec) * 1'000'000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
  if (until <= nowUsec) return 0;
  const uint64_t ms = (until - nowUsec + 999) / 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

int BluezLink::Connect() {
  if (bus_) return 0;
  std::string address;
  {
    std::lock_guard lock(mutex_);
    address = address_;
  }
  sd_bus* bus = nullptr;
  int r;
  if (address.empty()) {
    r = sd_bus_open_system(&bus);
  } else {
    r = sd_bus_new(&bus);
    if (r >= 0) r = sd_bus_set_address(bus, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0) r = sd_bus_start(bus);
  }
  if (r >= 0)
    r = sd_bus_add_object_vtable(bus, nullptr, kProfileObjectPath, "org.bluez.Profile1",
                                 kProfileVtable, this);
  if (r >= 0)
    r = sd_bus_add_match_async(bus, nullptr, kBluezOwnerRule, &BluezLink::OnBluezOwnerChanged,
                               nullptr, this);
  if (r < 0) {
    sd_bus_flush_close_unref(bus);
    return r;
  }
  bus_ = bus;
  return 0;
}

// BlueZ forgets the profiles of a connection that closes.
void BluezLink::Disconnect() {
  sd_bus_flush_close_unref(bus_);
  bus_ = nullptr;
  wanted_.reset();
  owner_.clear();
  ++generation_;
}

bool BluezLink::DisconnectIfClosed() {
  if (!bus_ || sd_bus_is_open(bus_) > 0) return false;
  Disconnect();
  return true;
}

// BlueZ runs as a system service or not at all: asking the bus to start it
// would only fill the system log once a second.
int BluezLink::NewProfileManagerCall(sd_bus_message** call, const char* member) {
  int r = sd_bus_message_new_method_call(bus_, call, kBluezService, kBluezPath, kProfileManager,
                                         member);
  if (r >= 0) r = sd_bus_message_set_auto_start(*call, 0);
  return r;
}

int BluezLink::SendRegisterProfile(const Profile& profile, sd_bus_message** reply, bool async) {
  sd_bus_message* call = nullptr;
  int r = NewProfileManagerCall(&call, "RegisterProfile");
  if (r >= 0)
    r = sd_bus_message_append(call, "osa{sv}", kProfileObjectPath, profile.uuid.c_str(), 3,
                              "ServiceRecord", "s", profile.record.c_str(), "Role", "s",
                              "server", "Name", "s", profile.name.c_str());
  if (r >= 0) {
    if (async)
      r = sd_bus_call_async(bus_, nullptr, call, &BluezLink::OnRegisterReply,
                            reinterpret_cast<void*>(generation_), callTimeoutUsec_.load(std::memory_order_relaxed));
    else
      r = sd_bus_call(bus_, call, callTimeoutUsec_.load(std::memory_order_relaxed), nullptr, reply);
  }
  sd_bus_message_unref(call);
  return r;
}

int BluezLink::Register(const Profile& profile) {
  if (wanted_) Withdraw();
  sd_bus_message* reply = nullptr;
  int r = -ENOTCONN;
  // A connection found closed is replaced once.
  for (int attempt = 0; attempt < 2 && r < 0; ++attempt) {
    r = Connect();
    if (r < 0) return r;
    r = SendRegisterProfile(profile, &reply, false);
    // A call left unanswered in time may still be carried out: BlueZ would
    // then hold a profile we do not know of, refuse every later
    // registration as AlreadyExists and advertise a channel nobody listens
    // on. Closing the connection makes BlueZ drop whatever it registered
    // through it.
    if (r == -ETIMEDOUT) {
      Disconnect();
      return r;
    }
    if (r < 0 && !DisconnectIfClosed()) return r;
  }
  if (r < 0) return r;
  const char* sender = sd_bus_message_get_sender(reply);
  owner_ = sender ? sender : "";
  sd_bus_message_unref(reply);
  wanted_ = profile;
  ++generation_;
  return 0;
}

int BluezLink::Unregister() {
  if (!wanted_) return -ENOENT;
  Withdraw();
  return 0;
}

// Withdraws whatever was asked for before, whether BlueZ still holds it or
// not; a refusal only means there was nothing left to withdraw.
void BluezLink::Withdraw() {
  wanted_.reset();
  owner_.clear();
  ++generation_;
  if (!bus_) return;
  sd_bus_message* call = nullptr;
  int r = NewProfileManagerCall(&call, "UnregisterProfile");
  if (r >= 0) r = sd_bus_message_append(call, "o", kProfileObjectPath);
  if (r >= 0) r = sd_bus_call(bus_, call, callTimeoutUsec_.load(std::memory_order_relaxed), nullptr, nullptr);
  sd_bus_message_unref(call);
  // Left unanswered, the profile may stay registered: see Register.
  if (r == -ETIMEDOUT)
    Disconnect();
  else
    DisconnectIfClosed();
}

int BluezLink::OnRelease(sd_bus_message* m, void*, sd_bus_error*) {
  return sd_bus_reply_method_return(m, "");
}

// BlueZ hands over connections only for channels it listens on itself,
// which this profile has none of; the descriptor closes with the message.
int BluezLink::OnNewConnection(sd_bus_message* m, void*, sd_bus_error*) {
  return sd_bus_reply_method_errorf(m, "org.bluez.Error.Rejected", "Connections are accepted "
                                       "on the program's own socket");
}

int BluezLink::OnRequestDisconnection(sd_bus_message* m, void*, sd_bus_error*) {
  return sd_bus_reply_method_return(m, "");
}

// A BlueZ that (re)starts knows nothing of the profile: publish it again.
int BluezLink::OnBluezOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto& link = *static_cast<BluezLink*>(userdata);
  const char* name = nullptr;
  const char* oldOwner = nullptr;
  const char* newOwner = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
  if (!link.wanted_ || !newOwner) return 0;
  if (*newOwner == '\0') {
    link.owner_.clear();
    return 0;
  }
  if (link.owner_ == newOwner) return 0;
  link.owner_.clear();
  link.SendRegisterProfile(*link.wanted_, nullptr, true);
  return 0;
}

int BluezLink::OnRegisterReply(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto& link = Get();
  if (reinterpret_cast<uintptr_t>(userdata) != link.generation_ || sd_bus_message_is_method_error(m, nullptr))
    return 0;
  const char* sender = sd_bus_message_get_sender(m);
  link.owner_ = sender ? sender : "";
  return 0;
}

}  // namespace

int SetServiceBluez(const WSAQuerySet* record, int operation, uint32_t) {
  int r = -EINVAL;
  if (operation == RNRSERVICE_REGISTER && record) {
    Profile profile{{}, BuildServiceRecord(*record), {}};
    if (!profile.record.empty()) {
      profile.uuid = GuidToString(*record->lpServiceClassId);
      profile.name = record->lpszServiceInstanceName ? record->lpszServiceInstanceName : "";
      r = BluezLink::Get().Run([&](BluezLink& link) { return link.Register(profile); });
    }
  } else if (operation == RNRSERVICE_DELETE) {
    r = BluezLink::Get().Run([](BluezLink& link) { return link.Unregister(); });
  }
  if (r >= 0) return 0;
  errno = -r;
  return -1;
}

void SetBluezBusAddress(const std::string& address) { BluezLink::Get().SetAddress(address); }

void SetBluezCallTimeout(std::chrono::microseconds timeout) {
  BluezLink::Get().SetCallTimeout(static_cast<uint64_t>(timeout.count()));
}

}  // namespace wendrix
