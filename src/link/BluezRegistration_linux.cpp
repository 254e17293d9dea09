#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "link/BluezRegistration.h"
#include "link/Strings.h"
#include "link/ThreadName.h"

namespace wendrix {

std::string GuidToString(const Guid& g) {
  char text[37];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return text;
}

namespace {

const SockAddrRfcomm* RfcommAddressOf(const WSAQuerySet& record) {
  if (record.dwNumberOfCsAddrs < 1 || !record.lpcsaBuffer) return nullptr;
  const CsAddrInfo& info = record.lpcsaBuffer[0];
  const SocketAddress& local = info.LocalAddr;
  if (info.iProtocol != kBtProtoRfcomm || !local.lpSockaddr ||
      local.iSockaddrLength < static_cast<int>(sizeof(SockAddrRfcomm)))
    return nullptr;
  const auto* address = reinterpret_cast<const SockAddrRfcomm*>(local.lpSockaddr);
  if (address->family != AF_BLUETOOTH || address->channel < 1 || address->channel > 30) return nullptr;
  return address;
}

}  // namespace

std::string BuildServiceRecord(const WSAQuerySet& record) {
  if (record.dwSize < sizeof(WSAQuerySet) || record.dwNameSpace != NS_BTH || !record.lpServiceClassId)
    return {};
  const SockAddrRfcomm* address = RfcommAddressOf(record);
  if (!address) return {};

  char channel[8];
  std::snprintf(channel, sizeof channel, "0x%02x", address->channel);
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<record>\n";
  // ServiceClassIDList
  xml += "  <attribute id=\"0x0001\"><sequence><uuid value=\"" + GuidToString(*record.lpServiceClassId) +
         "\" /></sequence></attribute>\n";
  // ProtocolDescriptorList: L2CAP, then RFCOMM on the channel
  xml +=
      "  <attribute id=\"0x0004\"><sequence>"
      "<sequence><uuid value=\"0x0100\" /></sequence>"
      "<sequence><uuid value=\"0x0003\" /><uint8 value=\"" +
      std::string(channel) + "\" /></sequence></sequence></attribute>\n";
  // BrowseGroupList: the public browse group
  xml += "  <attribute id=\"0x0005\"><sequence><uuid value=\"0x1002\" /></sequence></attribute>\n";
  // LanguageBaseAttributeIDList: English, UTF-8, texts from 0x0100 on
  xml +=
      "  <attribute id=\"0x0006\"><sequence><uint16 value=\"0x656e\" />"
      "<uint16 value=\"0x006a\" /><uint16 value=\"0x0100\" /></sequence></attribute>\n";
  // ServiceName and ServiceDescription
  xml += "  <attribute id=\"0x0100\"><text value=\"" +
         EscapeMarkup(record.lpszServiceInstanceName ? record.lpszServiceInstanceName : "") +
         "\" /></attribute>\n";
  xml += "  <attribute id=\"0x0101\"><text value=\"" +
         EscapeMarkup(record.lpszComment ? record.lpszComment : "") + "\" /></attribute>\n";
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

// While the record is not published, the link tries again after these
// pauses, doubling from the first to the last.
constexpr uint64_t kFirstRetryUsec = 250'000;
constexpr uint64_t kLastRetryUsec = 2'000'000;

uint64_t NowUsec() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1'000'000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

struct Profile {
  std::string uuid;
  std::string record;
  std::string name;
};

// Owns the bus connection on a thread of its own, which answers BlueZ's
// calls to our profile object and keeps the record published: through a
// lost bus connection (reconnecting with a back-off), a new org.bluez owner
// and refused or unanswered attempts. Callers hand it work and wait, for a
// bounded time, for the result, so sd-bus is only ever used on that thread.
// Nothing there waits on the bus without a deadline of its own.
class BluezLink {
 public:
  static BluezLink& Get() {
    // Like its thread, it lives until the process ends.
    static auto* link = new BluezLink;
    return *link;
  }

  // Runs `work` on the bus thread; its result, 0 or a negative errno, or
  // -ETIMEDOUT when the thread does not get it done in time. `undo` then
  // runs there instead, should `work` succeed after the caller gave up.
  int Run(std::function<int(BluezLink&)> work, std::function<void(BluezLink&)> undo = {});

  void SetAddress(const std::string& address) {
    std::lock_guard lock(mutex_);
    address_ = address;
  }
  void SetCallTimeout(uint64_t usec) { callTimeoutUsec_.store(usec, std::memory_order_relaxed); }

  int Register(const Profile& profile);
  int Unregister();
  void Withdraw();

 private:
  struct Job {
    std::function<int(BluezLink&)> work;
    std::function<void(BluezLink&)> undo;
    int result = -EIO;
    bool done = false;
    bool abandoned = false;
  };
  enum class Answer { kNone, kTaken, kRefused, kNoReply };

  uint64_t CallTimeout() const { return callTimeoutUsec_.load(std::memory_order_relaxed); }
  void Loop();
  void RunJobs();
  void Process();
  void Poll(uint64_t until, bool wakeOnJobs);
  uint64_t NextDue() const;
  int Connect();
  void Drop();
  void Defer();
  void Accept(const char* sender);
  void Republish();
  void CancelRepublish();
  int Call(sd_bus_message* call, sd_bus_message** reply);
  int NewProfileManagerCall(sd_bus_message** call, const char* member);
  int NewRegisterProfile(const Profile& profile, sd_bus_message** call);

  static int OnCallReply(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int OnRepublishReply(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int OnRelease(sd_bus_message* m, void*, sd_bus_error*);
  static int OnNewConnection(sd_bus_message* m, void*, sd_bus_error*);
  static int OnRequestDisconnection(sd_bus_message* m, void*, sd_bus_error*);
  static int OnBluezOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*);

  static const sd_bus_vtable kProfileVtable[];

  std::mutex mutex_;
  std::condition_variable done_;
  std::deque<std::shared_ptr<Job>> jobs_;
  std::string address_;
  int wake_ = -1;
  std::atomic<uint64_t> callTimeoutUsec_{5'000'000};

  // Bus thread only.
  sd_bus* bus_ = nullptr;
  std::optional<Profile> wanted_;          // the record that should be published
  bool published_ = false;                 // BlueZ holds it through bus_
  std::string owner_;                      // the BlueZ instance that holds it
  std::optional<std::string> bluezOwner_;  // org.bluez's owner as last announced; "" for none
  sd_bus_slot* republish_ = nullptr;       // an attempt waiting for its answer
  Answer answer_ = Answer::kNone;          // and that answer once it came
  std::string answeredBy_;
  uint64_t republishDeadline_ = 0;
  uint64_t retryAt_ = 0;  // the next attempt, while not published
  uint64_t backoff_ = kFirstRetryUsec;
  bool retryNow_ = false;  // a new BlueZ appeared: no back-off
};

const sd_bus_vtable BluezLink::kProfileVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Release", "", "", &BluezLink::OnRelease, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("NewConnection", "oha{sv}", "", &BluezLink::OnNewConnection, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("RequestDisconnection", "o", "", &BluezLink::OnRequestDisconnection,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

int BluezLink::Run(std::function<int(BluezLink&)> work, std::function<void(BluezLink&)> undo) {
  auto job = std::make_shared<Job>();
  job->work = std::move(work);
  job->undo = std::move(undo);
  std::unique_lock lock(mutex_);
  if (wake_ < 0) {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) return -errno;
    try {
      std::thread([this] {
        NameThisThread("bluez-link");
        Loop();
      }).detach();
    } catch (...) {
      ::close(wake_);
      wake_ = -1;
      return -EAGAIN;
    }
  }
  jobs_.push_back(job);
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
  // A job makes at most three calls, each bounded by the call timeout.
  const auto bound = std::chrono::microseconds(3 * CallTimeout()) + std::chrono::seconds(1);
  if (!done_.wait_for(lock, bound, [&] { return job->done; })) {
    job->abandoned = true;
    return -ETIMEDOUT;
  }
  return job->result;
}

void BluezLink::Loop() {
  for (;;) {
    // A connection that has gone is noticed before the next job uses it.
    Process();
    RunJobs();
    Process();
    Republish();
    Poll(NextDue(), true);
  }
}

void BluezLink::RunJobs() {
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::lock_guard lock(mutex_);
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
      if (job->abandoned) continue;
    }
    int result;
    try {
      result = job->work(*this);
    } catch (...) {
      result = -ENOMEM;
    }
    bool abandoned;
    {
      std::lock_guard lock(mutex_);
      job->result = result;
      job->done = true;
      abandoned = job->abandoned;
    }
    done_.notify_all();
    if (abandoned && result >= 0 && job->undo) job->undo(*this);
  }
}

void BluezLink::Process() {
  while (bus_) {
    const int r = sd_bus_process(bus_, nullptr);
    if (r < 0) Drop();
    if (r <= 0) return;
  }
}

// Sleeps until the bus has something, `until` (absolute, UINT64_MAX for no
// limit) or, with wakeOnJobs, a job arrives.
void BluezLink::Poll(uint64_t until, bool wakeOnJobs) {
  pollfd fds[2];
  nfds_t count = 0;
  if (wakeOnJobs) fds[count++] = {wake_, POLLIN, 0};
  if (bus_) {
    const int events = sd_bus_get_events(bus_);
    if (events < 0) {
      Drop();
      return;
    }
    fds[count++] = {sd_bus_get_fd(bus_), static_cast<short>(events), 0};
    uint64_t busDue = UINT64_MAX;
    if (sd_bus_get_timeout(bus_, &busDue) >= 0 && busDue < until) until = busDue;
  }
  int timeout = -1;
  if (until != UINT64_MAX) {
    const uint64_t now = NowUsec();
    const uint64_t ms = until > now ? (until - now + 999) / 1000 : 0;
    timeout = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
  }
  if (::poll(fds, count, timeout) > 0 && wakeOnJobs && (fds[0].revents & POLLIN)) {
    uint64_t jobs;
    [[maybe_unused]] ssize_t n = ::read(wake_, &jobs, sizeof jobs);
  }
}

uint64_t BluezLink::NextDue() const {
  if (!wanted_ || published_) return UINT64_MAX;
  if (republish_) return answer_ == Answer::kNone ? republishDeadline_ : 0;
  return retryNow_ ? 0 : retryAt_;
}

int BluezLink::Connect() {
  if (bus_) return 0;
  std::string address;
  {
    std::lock_guard lock(mutex_);
    address = address_;
  }
  // Starting only connects and queues the greeting; nothing here waits.
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
    r = sd_bus_add_object_vtable(bus, nullptr, kProfileObjectPath, "org.bluez.Profile1", kProfileVtable,
                                 this);
  if (r >= 0)
    r = sd_bus_add_match_async(bus, nullptr, kBluezOwnerRule, &BluezLink::OnBluezOwnerChanged, nullptr, this);
  if (r < 0) {
    sd_bus_close_unref(bus);
    return r;
  }
  bus_ = bus;
  bluezOwner_.reset();
  return 0;
}

// Closes without flushing: a stalled daemon must not hold us up. BlueZ
// forgets the profiles of a connection that closes.
void BluezLink::Drop() {
  CancelRepublish();
  sd_bus_close_unref(bus_);
  bus_ = nullptr;
  published_ = false;
  owner_.clear();
  bluezOwner_.reset();
  if (wanted_) Defer();
}

void BluezLink::Defer() {
  retryAt_ = NowUsec() + backoff_;
  backoff_ = std::min(backoff_ * 2, kLastRetryUsec);
}

// BlueZ `sender` took the record; it counts only if that is still the
// BlueZ on the bus.
void BluezLink::Accept(const char* sender) {
  const std::string taker = sender ? sender : "";
  if (bluezOwner_ && *bluezOwner_ != taker) {
    retryNow_ = true;
    return;
  }
  published_ = true;
  owner_ = taker;
  retryNow_ = false;
  backoff_ = kFirstRetryUsec;
}

void BluezLink::CancelRepublish() {
  republish_ = sd_bus_slot_unref(republish_);
  answer_ = Answer::kNone;
}

// Publishes the wanted record again, once it is due, on whatever
// connection there is or can be made.
void BluezLink::Republish() {
  if (!wanted_ || published_) return;
  const uint64_t now = NowUsec();
  if (republish_) {
    const Answer answer = answer_;
    if (answer == Answer::kNone) {
      // Unanswered in time: see Register.
      if (now >= republishDeadline_) Drop();
      return;
    }
    CancelRepublish();
    if (answer == Answer::kTaken) {
      Accept(answeredBy_.c_str());
    } else if (answer == Answer::kNoReply) {
      Drop();
      return;
    } else if (!retryNow_) {
      Defer();
    }
    if (published_) return;
  }
  if (!retryNow_ && now < retryAt_) return;
  retryNow_ = false;
  int r = Connect();
  sd_bus_message* call = nullptr;
  if (r >= 0) r = NewRegisterProfile(*wanted_, &call);
  if (r >= 0)
    r = sd_bus_call_async(bus_, &republish_, call, &BluezLink::OnRepublishReply, this, CallTimeout());
  sd_bus_message_unref(call);
  if (r >= 0) {
    answer_ = Answer::kNone;
    republishDeadline_ = now + CallTimeout();
  } else if (bus_ && sd_bus_is_open(bus_) <= 0) {
    Drop();
  } else {
    Defer();
  }
}

int BluezLink::OnCallReply(sd_bus_message* m, void* userdata, sd_bus_error*) {
  *static_cast<sd_bus_message**>(userdata) = sd_bus_message_ref(m);
  return 0;
}

// Sends `call` and waits for its answer, handling whatever else arrives
// meanwhile, for at most the call timeout.
int BluezLink::Call(sd_bus_message* call, sd_bus_message** reply) {
  sd_bus_message* answer = nullptr;
  sd_bus_slot* slot = nullptr;
  const uint64_t deadline = NowUsec() + CallTimeout();
  int r = sd_bus_call_async(bus_, &slot, call, &BluezLink::OnCallReply, &answer, CallTimeout());
  if (r < 0) return r;
  for (;;) {
    Process();
    if (answer || !bus_ || NowUsec() >= deadline) break;
    Poll(deadline, false);
  }
  sd_bus_slot_unref(slot);
  if (!answer) return bus_ ? -ETIMEDOUT : -ECONNRESET;
  r = sd_bus_message_is_method_error(answer, nullptr) ? -sd_bus_message_get_errno(answer) : 0;
  if (r < 0 || !reply)
    sd_bus_message_unref(answer);
  else
    *reply = answer;
  return r;
}

// BlueZ runs as a system service or not at all: asking the bus to start it
// would only fill the system log at every attempt.
int BluezLink::NewProfileManagerCall(sd_bus_message** call, const char* member) {
  int r = sd_bus_message_new_method_call(bus_, call, kBluezService, kBluezPath, kProfileManager, member);
  if (r >= 0) r = sd_bus_message_set_auto_start(*call, 0);
  return r;
}

int BluezLink::NewRegisterProfile(const Profile& profile, sd_bus_message** call) {
  int r = NewProfileManagerCall(call, "RegisterProfile");
  if (r >= 0)
    r = sd_bus_message_append(*call, "osa{sv}", kProfileObjectPath, profile.uuid.c_str(), 3, "ServiceRecord",
                              "s", profile.record.c_str(), "Role", "s", "server", "Name", "s",
                              profile.name.c_str());
  return r;
}

int BluezLink::Register(const Profile& profile) {
  Withdraw();
  sd_bus_message* reply = nullptr;
  int r = -ENOTCONN;
  // A connection found closed is replaced once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    r = Connect();
    if (r < 0) return r;
    sd_bus_message* call = nullptr;
    r = NewRegisterProfile(profile, &call);
    if (r >= 0) r = Call(call, &reply);
    sd_bus_message_unref(call);
    if (r >= 0) break;
    if (bus_ && sd_bus_is_open(bus_) > 0) {
      // A call left unanswered in time may still be carried out: BlueZ
      // would then hold a profile we do not know of, refuse every later
      // registration as AlreadyExists and advertise a channel nobody
      // listens on. Closing the connection makes BlueZ drop whatever it
      // registered through it.
      if (r == -ETIMEDOUT) Drop();
      return r;
    }
    Drop();
  }
  if (r < 0) return r;
  wanted_ = profile;
  retryNow_ = false;
  backoff_ = kFirstRetryUsec;
  Accept(sd_bus_message_get_sender(reply));
  sd_bus_message_unref(reply);
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
  const bool wanted = wanted_.has_value();
  wanted_.reset();
  published_ = false;
  owner_.clear();
  CancelRepublish();
  if (!wanted || !bus_) return;
  sd_bus_message* call = nullptr;
  int r = NewProfileManagerCall(&call, "UnregisterProfile");
  if (r >= 0) r = sd_bus_message_append(call, "o", kProfileObjectPath);
  if (r >= 0) r = Call(call, nullptr);
  sd_bus_message_unref(call);
  // Left unanswered, the profile may stay registered: see Register.
  if (bus_ && (r == -ETIMEDOUT || sd_bus_is_open(bus_) <= 0)) Drop();
}

// Only notes the answer: the connection is not to be closed from within
// its own dispatch.
int BluezLink::OnRepublishReply(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto& link = *static_cast<BluezLink*>(userdata);
  if (!sd_bus_message_is_method_error(m, nullptr) ||
      sd_bus_message_is_method_error(m, "org.bluez.Error.AlreadyExists")) {
    // Everything registered through this connection since the last
    // withdrawal is the wanted record.
    link.answer_ = Answer::kTaken;
    const char* sender = sd_bus_message_get_sender(m);
    link.answeredBy_ = sender ? sender : "";
  } else {
    link.answer_ = sd_bus_message_get_errno(m) == ETIMEDOUT ? Answer::kNoReply : Answer::kRefused;
  }
  return 0;
}

int BluezLink::OnRelease(sd_bus_message* m, void*, sd_bus_error*) {
  return sd_bus_reply_method_return(m, "");
}

// BlueZ hands over connections only for channels it listens on itself,
// which this profile has none of; the descriptor closes with the message.
int BluezLink::OnNewConnection(sd_bus_message* m, void*, sd_bus_error*) {
  return sd_bus_reply_method_errorf(m, "org.bluez.Error.Rejected",
                                    "Connections are accepted "
                                    "on the program's own socket");
}

int BluezLink::OnRequestDisconnection(sd_bus_message* m, void*, sd_bus_error*) {
  return sd_bus_reply_method_return(m, "");
}

// A BlueZ that goes forgets the profile; one that (re)starts knows nothing
// of it: publish it again at once.
int BluezLink::OnBluezOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto& link = *static_cast<BluezLink*>(userdata);
  const char* name = nullptr;
  const char* oldOwner = nullptr;
  const char* newOwner = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0 || !newOwner) return 0;
  link.bluezOwner_ = newOwner;
  if (link.owner_ == newOwner) return 0;
  link.published_ = false;
  link.owner_.clear();
  if (*newOwner) {
    link.retryNow_ = true;
    link.backoff_ = kFirstRetryUsec;
  }
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
      r = BluezLink::Get().Run([profile](BluezLink& link) { return link.Register(profile); },
                               [](BluezLink& link) { link.Withdraw(); });
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
