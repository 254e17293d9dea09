#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "link/InterfaceList.h"

namespace wendrix {

namespace {

uint32_t FlagsOf(unsigned int system) {
  uint32_t flags = 0;
  if (system & IFF_UP) flags |= kInterfaceUp;
  if (system & IFF_BROADCAST) flags |= kInterfaceBroadcast;
  if (system & IFF_LOOPBACK) flags |= kInterfaceLoopback;
  if (system & IFF_POINTOPOINT) flags |= kInterfacePointToPoint;
  if (system & IFF_MULTICAST) flags |= kInterfaceMulticast;
  return flags;
}

sockaddr_in Ipv4Of(const sockaddr* address, in_addr_t fallback) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_addr.s_addr = fallback;
  if (address && address->sa_family == AF_INET) std::memcpy(&result, address, sizeof result);
  return result;
}

}  // namespace

int QueryInterfaceList(SocketHandle s, uint32_t code, void*, uint32_t, void* out, uint32_t outLength,
                       uint32_t* bytesReturned) {
  if (code != SIO_GET_INTERFACE_LIST || !bytesReturned) {
    errno = EINVAL;
    return -1;
  }
  if (s < 0 || ::fcntl(s, F_GETFD) == -1) {
    errno = EBADF;
    return -1;
  }
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return -1;

  std::vector<InterfaceInfo> records;
  for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    InterfaceInfo info{};
    info.iiFlags = FlagsOf(entry->ifa_flags);
    info.iiAddress = Ipv4Of(entry->ifa_addr, 0);
    // An address without a mask stands for itself alone.
    info.iiNetmask = Ipv4Of(entry->ifa_netmask, INADDR_BROADCAST);
    const sockaddr* broadcast = (entry->ifa_flags & IFF_BROADCAST) ? entry->ifa_broadaddr : nullptr;
    info.iiBroadcastAddress = Ipv4Of(broadcast, 0);
    records.push_back(info);
  }
  ::freeifaddrs(list);

  const size_t needed = records.size() * sizeof(InterfaceInfo);
  if (needed > outLength || (needed > 0 && !out)) {
    errno = EFAULT;
    return -1;
  }
  if (needed > 0) std::memcpy(out, records.data(), needed);
  *bytesReturned = static_cast<uint32_t>(needed);
  return 0;
}

}  // namespace wendrix
