// Addresses on the status page server: the status pages, the links area
// whose addresses open in the user's web browser, and the help page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "status/StatusPages.h"

namespace wendrix {

inline constexpr std::string_view kWaitingPage = "/zodevur_app/en/waiting.php?v=5.1";
// Followed directly by "wifi", "both" or "bluetooth".
inline constexpr std::string_view kConnectedPage = "/zodevur_app/en/connected.php?v=5.1&type=";
inline constexpr std::string_view kLinksArea = "/zodevur_app/en/links/";
inline constexpr std::string_view kHelpPage = "/zodevur_app/en/links/help.php?v=5.1";

// base (scheme and host) followed by the path and query.
std::string PageAddress(std::string_view base, std::string_view pathAndQuery);

// Whether the full address starts with base + kLinksArea, compared byte for
// byte and case-sensitively; a shorter address never does.
bool IsLinksAddress(std::string_view address, std::string_view base);

// The live part of the status page at this full address on `base`: the
// waiting page's or the connected page's; none for any other address.
std::optional<LivePart> LivePartShown(std::string_view address, std::string_view base);

}  // namespace wendrix
