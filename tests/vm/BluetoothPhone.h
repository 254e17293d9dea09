// The phone's side of a Bluetooth link, played from a second controller of
// the same machine: the controllers as BlueZ knows them, the SDP search a
// phone makes for a service class, and the RFCOMM stream to the channel
// the record names.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/ServiceRegistration.h"

namespace wendrix::test {

// A device address as sockets take it: the last octet of "00:AA:01:00:00:00" first.
using BdAddr = std::array<uint8_t, 6>;
// A UUID in the byte order of the wire and of its text form.
using Uuid128 = std::array<uint8_t, 16>;

std::optional<BdAddr> ParseBdAddr(std::string_view text);
Uuid128 UuidOf(const Guid& guid);

// The attributes of a service record that a phone looks at.
struct ServiceRecord {
  std::vector<Uuid128> classes;  // ServiceClassIDList, short UUIDs widened
  int rfcommChannel = 0;         // from ProtocolDescriptorList; 0 when none
  std::string name;              // ServiceName (0x0100)
  std::string description;       // ServiceDescription (0x0101)
};

// Asks the SDP server of `remote`, through the controller `local`, for the
// records of class `uuid` with all their attributes (ServiceSearchAttribute,
// following continuations). None, with `error` set, when the search failed.
std::optional<std::vector<ServiceRecord>> SearchServices(const BdAddr& local, const BdAddr& remote,
                                                         const Uuid128& uuid, std::string& error);

// A connected RFCOMM stream from `local` to channel `channel` of `remote`,
// or -1 with errno set.
int ConnectRfcomm(const BdAddr& local, const BdAddr& remote, uint8_t channel);

// org.bluez.Adapter1 of the controller `name` ("hci0") on the system bus.
struct AdapterInfo {
  BdAddr address{};
  bool powered = false;
};
std::optional<AdapterInfo> ReadAdapter(const std::string& name, std::string& error);
// Makes the controller visible and connectable, as a user does for pairing.
bool MakeDiscoverable(const std::string& name, std::string& error);

}  // namespace wendrix::test
