// Bluetooth service registration on BlueZ 5 (Winsock2Entries.WSASetService):
// the record is published through org.bluez.ProfileManager1 on the system
// bus while the program accepts on its own RFCOMM socket.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "link/ServiceRegistration.h"

namespace wendrix {

// RNRSERVICE_REGISTER publishes the record, withdrawing the one published
// before; RNRSERVICE_DELETE withdraws it. 0 on success, -1 on failure
// (bad record, no bus, no BlueZ, refused). Blocks for at most a few seconds.
int SetServiceBluez(const WSAQuerySet* record, int operation, uint32_t flags);

// The bus the registration talks to; empty for the system bus. Takes
// effect at the next connection.
void SetBluezBusAddress(const std::string& address);

// How long a call to BlueZ may take before it counts as failed (5 s);
// a registration left unanswered drops the bus connection, and with it
// whatever BlueZ registered through it.
void SetBluezCallTimeout(std::chrono::microseconds timeout);

// Lower-case, dashed: "9e0f781f-ad33-4f5b-991f-e32e2f2b2cd7".
std::string GuidToString(const Guid& guid);

// The SDP record in BlueZ's XML form, or empty when the query set cannot be
// registered (another name space, no class, no RFCOMM address, channel not
// in 1..30).
std::string BuildServiceRecord(const WSAQuerySet& record);

// The object path whose org.bluez.Profile1 interface BlueZ calls.
inline constexpr char kProfileObjectPath[] = "/io/wendrix/BluetoothServer";

}  // namespace wendrix
