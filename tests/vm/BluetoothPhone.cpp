#include "BluetoothPhone.h"

#include <endian.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace wendrix::test {

namespace {

constexpr int kBtProtoL2cap = 0;
constexpr uint16_t kSdpPsm = 1;
constexpr uint16_t kRfcommProtocol = 0x0003;
constexpr int kTimeoutSeconds = 20;

// The kernel's L2CAP socket address (sockaddr_l2).
struct SockAddrL2 {
  sa_family_t family;
  uint16_t psm;  // little-endian
  uint8_t bdaddr[6];
  uint16_t cid;
  uint8_t bdaddrType;
};
static_assert(sizeof(SockAddrL2) == 14);

// SDP PDUs and data element types.
constexpr uint8_t kErrorResponse = 0x01;
constexpr uint8_t kSearchAttributeRequest = 0x06;
constexpr uint8_t kSearchAttributeResponse = 0x07;
enum : uint8_t { kNil = 0, kUint = 1, kUuid = 3, kText = 4, kSequence = 6, kAlternative = 7 };

// 00000000-0000-1000-8000-00805F9B34FB, the base of the short UUIDs.
constexpr Uuid128 kBaseUuid = {0, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

struct Element {
  uint8_t type = kNil;
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// Reads the data element at p and moves p past it.
bool NextElement(const uint8_t*& p, const uint8_t* end, Element& e) {
  if (p >= end) return false;
  const uint8_t descriptor = *p++;
  e.type = descriptor >> 3;
  const unsigned sizeIndex = descriptor & 7;
  size_t size = 0;
  if (e.type == kNil) {
    if (sizeIndex != 0) return false;
  } else if (sizeIndex <= 4) {
    size = size_t{1} << sizeIndex;
  } else {
    const size_t lengthBytes = size_t{1} << (sizeIndex - 5);
    if (static_cast<size_t>(end - p) < lengthBytes) return false;
    for (size_t i = 0; i < lengthBytes; ++i) size = (size << 8) | *p++;
  }
  if (static_cast<size_t>(end - p) < size) return false;
  e.data = p;
  e.size = size;
  p += size;
  return true;
}

bool IsSequence(const Element& e) { return e.type == kSequence || e.type == kAlternative; }

std::optional<Uuid128> UuidFrom(const Element& e) {
  if (e.type != kUuid) return std::nullopt;
  Uuid128 u = kBaseUuid;
  switch (e.size) {
    case 2:
      std::memcpy(&u[2], e.data, 2);
      return u;
    case 4:
      std::memcpy(&u[0], e.data, 4);
      return u;
    case 16:
      std::memcpy(u.data(), e.data, 16);
      return u;
    default:
      return std::nullopt;
  }
}

std::optional<uint32_t> UintFrom(const Element& e) {
  if (e.type != kUint || e.size > 4) return std::nullopt;
  uint32_t v = 0;
  for (size_t i = 0; i < e.size; ++i) v = (v << 8) | e.data[i];
  return v;
}

bool IsShortUuid(const Uuid128& u, uint16_t value) {
  Uuid128 expected = kBaseUuid;
  expected[2] = static_cast<uint8_t>(value >> 8);
  expected[3] = static_cast<uint8_t>(value);
  return u == expected;
}

bool ParseClasses(const Element& list, ServiceRecord& record) {
  if (!IsSequence(list)) return false;
  const uint8_t* p = list.data;
  for (Element e; p < list.data + list.size;) {
    if (!NextElement(p, list.data + list.size, e)) return false;
    const std::optional<Uuid128> u = UuidFrom(e);
    if (!u) return false;
    record.classes.push_back(*u);
  }
  return true;
}

// Each protocol is a sequence of its UUID and its parameters; RFCOMM's
// first parameter is the channel.
bool ParseProtocols(const Element& list, ServiceRecord& record) {
  if (!IsSequence(list)) return false;
  const uint8_t* p = list.data;
  for (Element protocol; p < list.data + list.size;) {
    if (!NextElement(p, list.data + list.size, protocol) || !IsSequence(protocol)) return false;
    const uint8_t* q = protocol.data;
    Element id, parameter;
    if (!NextElement(q, protocol.data + protocol.size, id)) return false;
    const std::optional<Uuid128> u = UuidFrom(id);
    if (!u) return false;
    if (IsShortUuid(*u, kRfcommProtocol) && NextElement(q, protocol.data + protocol.size, parameter)) {
      if (const std::optional<uint32_t> channel = UintFrom(parameter))
        record.rfcommChannel = static_cast<int>(*channel);
    }
  }
  return true;
}

std::optional<ServiceRecord> ParseRecord(const Element& attributes) {
  if (!IsSequence(attributes)) return std::nullopt;
  ServiceRecord record;
  const uint8_t* p = attributes.data;
  const uint8_t* end = attributes.data + attributes.size;
  while (p < end) {
    Element id, value;
    if (!NextElement(p, end, id) || !NextElement(p, end, value)) return std::nullopt;
    const std::optional<uint32_t> attribute = UintFrom(id);
    if (!attribute || id.size != 2) return std::nullopt;
    switch (*attribute) {
      case 0x0001:
        if (!ParseClasses(value, record)) return std::nullopt;
        break;
      case 0x0004:
        if (!ParseProtocols(value, record)) return std::nullopt;
        break;
      case 0x0100:
      case 0x0101:
        if (value.type != kText) return std::nullopt;
        (*attribute == 0x0100 ? record.name : record.description)
            .assign(reinterpret_cast<const char*>(value.data), value.size);
        break;
      default:
        break;
    }
  }
  return record;
}

// The attribute lists of a ServiceSearchAttribute response, one per record.
std::optional<std::vector<ServiceRecord>> ParseAttributeLists(const std::vector<uint8_t>& lists) {
  const uint8_t* p = lists.data();
  const uint8_t* end = p + lists.size();
  Element all;
  if (!NextElement(p, end, all) || p != end || !IsSequence(all)) return std::nullopt;
  std::vector<ServiceRecord> records;
  const uint8_t* q = all.data;
  while (q < all.data + all.size) {
    Element attributes;
    if (!NextElement(q, all.data + all.size, attributes)) return std::nullopt;
    std::optional<ServiceRecord> record = ParseRecord(attributes);
    if (!record) return std::nullopt;
    records.push_back(std::move(*record));
  }
  return records;
}

void SetTimeouts(int fd) {
  const timeval t{kTimeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
}

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

struct BusDeleter {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusDeleter>;

Bus OpenSystemBus(std::string& error) {
  sd_bus* bus = nullptr;
  const int r = sd_bus_open_system(&bus);
  if (r < 0) error = std::string("cannot reach the system bus: ") + std::strerror(-r);
  return Bus(r < 0 ? nullptr : bus);
}

std::string AdapterPath(const std::string& name) { return "/org/bluez/" + name; }

}  // namespace

std::optional<BdAddr> ParseBdAddr(std::string_view text) {
  unsigned octets[6];
  char rest;
  const std::string s(text);
  if (std::sscanf(s.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &octets[0], &octets[1], &octets[2], &octets[3],
                  &octets[4], &octets[5], &rest) != 6)
    return std::nullopt;
  BdAddr a;
  for (int i = 0; i < 6; ++i) a[static_cast<size_t>(i)] = static_cast<uint8_t>(octets[5 - i]);
  return a;
}

Uuid128 UuidOf(const Guid& g) {
  return {static_cast<uint8_t>(g.Data1 >> 24),
          static_cast<uint8_t>(g.Data1 >> 16),
          static_cast<uint8_t>(g.Data1 >> 8),
          static_cast<uint8_t>(g.Data1),
          static_cast<uint8_t>(g.Data2 >> 8),
          static_cast<uint8_t>(g.Data2),
          static_cast<uint8_t>(g.Data3 >> 8),
          static_cast<uint8_t>(g.Data3),
          g.Data4[0],
          g.Data4[1],
          g.Data4[2],
          g.Data4[3],
          g.Data4[4],
          g.Data4[5],
          g.Data4[6],
          g.Data4[7]};
}

std::optional<std::vector<ServiceRecord>> SearchServices(const BdAddr& local, const BdAddr& remote,
                                                         const Uuid128& uuid, std::string& error) {
  Fd s{socket(AF_BLUETOOTH, SOCK_SEQPACKET | SOCK_CLOEXEC, kBtProtoL2cap)};
  if (s.fd < 0) {
    error = ErrnoText("L2CAP socket");
    return std::nullopt;
  }
  SockAddrL2 from{};
  from.family = AF_BLUETOOTH;
  std::memcpy(from.bdaddr, local.data(), 6);
  SockAddrL2 to{};
  to.family = AF_BLUETOOTH;
  to.psm = htole16(kSdpPsm);
  std::memcpy(to.bdaddr, remote.data(), 6);
  if (bind(s.fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
    error = ErrnoText("binding to the phone's controller");
    return std::nullopt;
  }
  if (connect(s.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    error = ErrnoText("connecting to the SDP server");
    return std::nullopt;
  }

  std::vector<uint8_t> lists;
  std::vector<uint8_t> continuation;
  for (uint16_t transaction = 1;; ++transaction) {
    if (transaction > 64) {
      error = "the response never ends";
      return std::nullopt;
    }
    std::vector<uint8_t> parameters = {0x35, 17, 0x1C};  // a sequence of one 128-bit UUID
    parameters.insert(parameters.end(), uuid.begin(), uuid.end());
    parameters.insert(parameters.end(), {0xFF, 0xFF});                             // byte count limit
    parameters.insert(parameters.end(), {0x35, 5, 0x0A, 0x00, 0x00, 0xFF, 0xFF});  // all attributes
    parameters.push_back(static_cast<uint8_t>(continuation.size()));
    parameters.insert(parameters.end(), continuation.begin(), continuation.end());
    std::vector<uint8_t> pdu = {
        kSearchAttributeRequest, static_cast<uint8_t>(transaction >> 8), static_cast<uint8_t>(transaction),
        static_cast<uint8_t>(parameters.size() >> 8), static_cast<uint8_t>(parameters.size())};
    pdu.insert(pdu.end(), parameters.begin(), parameters.end());
    if (send(s.fd, pdu.data(), pdu.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(pdu.size())) {
      error = ErrnoText("sending the search");
      return std::nullopt;
    }

    uint8_t reply[4096];
    pollfd readable{s.fd, POLLIN, 0};
    if (poll(&readable, 1, kTimeoutSeconds * 1000) != 1) {
      error = "no answer";
      return std::nullopt;
    }
    const ssize_t n = recv(s.fd, reply, sizeof reply, MSG_DONTWAIT);
    if (n < 5) {
      error = n < 0 ? ErrnoText("receiving the answer") : "a short answer";
      return std::nullopt;
    }
    const size_t length = (size_t{reply[3]} << 8) | reply[4];
    if ((size_t{reply[1]} << 8 | reply[2]) != transaction || length + 5 != static_cast<size_t>(n)) {
      error = "an answer that does not fit the request";
      return std::nullopt;
    }
    if (reply[0] == kErrorResponse) {
      error =
          "the server answered with error " + std::to_string(length >= 2 ? (reply[5] << 8 | reply[6]) : -1);
      return std::nullopt;
    }
    const size_t count = length >= 2 ? (size_t{reply[5]} << 8 | reply[6]) : 0;
    if (reply[0] != kSearchAttributeResponse || length < 3 + count ||
        3 + count + reply[7 + count] != length || reply[7 + count] > 16) {
      error = "a malformed answer";
      return std::nullopt;
    }
    lists.insert(lists.end(), reply + 7, reply + 7 + count);
    continuation.assign(reply + 8 + count, reply + 8 + count + reply[7 + count]);
    if (continuation.empty()) break;
  }
  std::optional<std::vector<ServiceRecord>> records = ParseAttributeLists(lists);
  if (!records) error = "malformed attribute lists";
  return records;
}

int ConnectRfcomm(const BdAddr& local, const BdAddr& remote, uint8_t channel) {
  const int fd = socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC, kBtProtoRfcomm);
  if (fd < 0) return -1;
  SetTimeouts(fd);
  SockAddrRfcomm from{};
  from.family = AF_BLUETOOTH;
  std::memcpy(from.bdaddr, local.data(), 6);
  SockAddrRfcomm to{};
  to.family = AF_BLUETOOTH;
  std::memcpy(to.bdaddr, remote.data(), 6);
  to.channel = channel;
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

std::optional<AdapterInfo> ReadAdapter(const std::string& name, std::string& error) {
  Bus bus = OpenSystemBus(error);
  if (!bus) return std::nullopt;
  const std::string path = AdapterPath(name);
  sd_bus_error e{};
  char* address = nullptr;
  int powered = 0;
  int r = sd_bus_get_property_string(bus.get(), "org.bluez", path.c_str(), "org.bluez.Adapter1", "Address",
                                     &e, &address);
  if (r >= 0)
    r = sd_bus_get_property_trivial(bus.get(), "org.bluez", path.c_str(), "org.bluez.Adapter1", "Powered", &e,
                                    'b', &powered);
  std::optional<AdapterInfo> info;
  if (r < 0) {
    error = "BlueZ has no " + name + ": " + (e.message ? e.message : std::strerror(-r));
  } else if (std::optional<BdAddr> parsed = ParseBdAddr(address ? address : "")) {
    info = AdapterInfo{*parsed, powered != 0};
  } else {
    error = "BlueZ names an odd address for " + name;
  }
  std::free(address);
  sd_bus_error_free(&e);
  return info;
}

bool MakeDiscoverable(const std::string& name, std::string& error) {
  Bus bus = OpenSystemBus(error);
  if (!bus) return false;
  sd_bus_error e{};
  const int r = sd_bus_set_property(bus.get(), "org.bluez", AdapterPath(name).c_str(), "org.bluez.Adapter1",
                                    "Discoverable", &e, "b", 1);
  if (r < 0) error = "cannot make " + name + " discoverable: " + (e.message ? e.message : std::strerror(-r));
  sd_bus_error_free(&e);
  return r >= 0;
}

}  // namespace wendrix::test
