// The thin socket layer the services use. On Linux the handles are file
// descriptors; another platform puts its own implementation behind the
// same declarations.
#pragma once

#include <cstddef>
#include <cstdint>

struct sockaddr;

namespace wendrix {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;
constexpr int kSocketError = -1;

}  // namespace wendrix
