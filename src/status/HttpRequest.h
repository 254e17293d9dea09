// The head of an HTTP/1.x request as the page server accepts it: bounded,
// strict, and only what the server looks at.
#pragma once

#include <cstddef>
#include <string_view>

namespace wendrix {

inline constexpr size_t kMaxRequestLine = 1024;
inline constexpr size_t kMaxRequestHead = 4096;  // request line and headers
inline constexpr size_t kMaxHeaderLines = 32;

struct HttpRequest {
  // 0 while the head is incomplete; 200 for a well-formed head; otherwise
  // the error status to answer with (400, 414, 431, 505).
  int status = 0;
  std::string_view method;
  std::string_view target;  // path and query, as sent
  std::string_view host;    // the Host header's value; empty when absent
  size_t headLength = 0;    // bytes up to and including the empty line
};

// Parses the bytes received so far. The views point into `received`.
HttpRequest ParseHttpRequest(std::string_view received);

}  // namespace wendrix
