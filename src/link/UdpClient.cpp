#include "link/UdpClient.h"

#include <algorithm>
#include <string>

#include "joystick/StatusRecord.h"
#include "link/InterfaceList.h"
#include "link/Strings.h"
#include "link/winsock2.h"
#include "protocol/Protocol.h"

namespace wendrix {

namespace {
constexpr uint32_t kLoopbackAddress = 0x7F000001;  // 127.0.0.1
}  // namespace

TUdpClient::TUdpClient() {
  std::string text(kAppIdentifierText);
  text += "\x01\x01";
  text += IntToBytes(htonl(kLinkPort));
  text += '\x02';
  Announcement = StringToBuffer(text, AnnouncementLength);
}

void TUdpClient::AnnounceOnAllInterfaces() {
  // Without the binding there is no interface list: nothing is announced.
  const auto& entries = Winsock2Entries;
  if (!entries.socket || !entries.WSAIoctl || !entries.closesocket) return;

  const SocketHandle query = entries.socket(AF_INET, SOCK_STREAM, 0);
  try {
    alignas(InterfaceInfo) uint8_t list[kInterfaceListBufferSize] = {};
    uint32_t bytes = 0;
    if (query >= 0 &&
        entries.WSAIoctl(query, SIO_GET_INTERFACE_LIST, nullptr, 0, list, sizeof list, &bytes) == 0) {
      const uint32_t count = std::min<uint32_t>(bytes, sizeof list) / sizeof(InterfaceInfo);
      const auto* records = reinterpret_cast<const InterfaceInfo*>(list);
      uint32_t shown = 0;
      for (uint32_t i = 0; i < count; ++i) {
        const uint32_t address = records[i].iiAddress.sin_addr.s_addr;
        if (address == htonl(kLoopbackAddress)) continue;
        const uint32_t netmask = records[i].iiNetmask.sin_addr.s_addr;
        const bool sent = AnnounceOn(address, netmask);
        if (shown == kMaxAnnouncedAddresses) continue;
        AnnouncedAddress& entry = gStatus.announced[shown++];
        entry.address.store(address, std::memory_order_relaxed);
        entry.broadcast.store(address | ~netmask, std::memory_order_relaxed);
        entry.lastSend.store(sent ? SendResult::kSent : SendResult::kFailed, std::memory_order_relaxed);
      }
      gStatus.announcedCount.store(shown, std::memory_order_relaxed);
    }
  } catch (...) {
    CloseSendSocket();
  }
  if (query >= 0) entries.closesocket(query);
  gStatus.announcePasses.fetch_add(1, std::memory_order_relaxed);
}

bool TUdpClient::AnnounceOn(uint32_t address, uint32_t netmask) {
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(kLinkPort);
  destination.sin_addr.s_addr = address | ~netmask;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = 0;
  local.sin_addr.s_addr = address;

  const auto& calls = BroadcastSockets;
  SendSocket = calls.socket(AF_INET, SOCK_DGRAM, 0);
  if (SendSocket < 0) return false;
  bool sent = false;
  // Unbound, the datagram would leave by whatever route the system picks,
  // with another source address: such an interface is skipped.
  if (calls.bind(SendSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) {
    const int on = 1;
    calls.setsockopt(SendSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sent = calls.sendto(SendSocket, Announcement.get(), static_cast<size_t>(AnnouncementLength), 0,
                        reinterpret_cast<const sockaddr*>(&destination),
                        sizeof destination) == AnnouncementLength;
  }
  CloseSendSocket();
  return sent;
}

void TUdpClient::CloseSendSocket() {
  if (SendSocket < 0) return;
  const SocketHandle s = SendSocket;
  SendSocket = kInvalidSocket;
  BroadcastSockets.closesocket(s);
}

}  // namespace wendrix
