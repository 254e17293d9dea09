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

}  // namespace wendrix
