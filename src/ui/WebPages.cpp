#include "ui/WebPages.h"

namespace wendrix {

std::string PageAddress(std::string_view base, std::string_view pathAndQuery) {
  std::string address(base);
  address += pathAndQuery;
  return address;
}

bool IsLinksAddress(std::string_view address, std::string_view base) {
  return address.starts_with(base) && address.substr(base.size()).starts_with(kLinksArea);
}

std::optional<LivePart> LivePartShown(std::string_view address, std::string_view base) {
  if (!address.starts_with(base)) return std::nullopt;
  address.remove_prefix(base.size());
  address = address.substr(0, address.find_first_of("?#"));
  if (address == kWaitingPage.substr(0, kWaitingPage.find('?'))) return LivePart::kWaiting;
  if (address == kConnectedPage.substr(0, kConnectedPage.find('?'))) return LivePart::kConnected;
  return std::nullopt;
}

}  // namespace wendrix
