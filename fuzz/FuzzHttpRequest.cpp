// The page server's request handling: any bytes, received in one piece or
// growing, parse to a verdict, and every verdict gets a well-formed answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "status/HttpRequest.h"
#include "status/StatusPages.h"

namespace {

class FixedSource final : public wendrix::LiveSource {
 public:
  std::string Render(wendrix::LivePart part) override {
    return part == wendrix::LivePart::kConnected ? "connected" : "waiting";
  }
};

bool Inside(std::string_view part, std::string_view whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace wendrix;
  // The first byte picks the port the answer is made for.
  const uint16_t port = size > 0 ? static_cast<uint16_t>(40000 + data[0]) : 40000;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  FixedSource live;

  // As the server sees it: the bytes so far, until a verdict.
  for (size_t end = 1; end <= size; end += 1 + end / 8) {
    const std::string_view received = input.substr(0, end);
    const HttpRequest r = ParseHttpRequest(received);
    if (r.status == 0) continue;
    Check(r.status == 200 || r.status == 400 || r.status == 414 || r.status == 431 || r.status == 505);
    if (r.status == 200) {
      Check(r.headLength <= received.size() && r.headLength <= kMaxRequestHead);
      Check(Inside(r.method, received) && Inside(r.target, received) && Inside(r.host, received));
      Check(!r.target.empty() && r.target.front() == '/');
    }
    const std::string answer = AnswerRequest(r, port, "/0123456789abcdef", live);
    Check(answer.starts_with("HTTP/1.1 ") && answer.find("\r\n\r\n") != std::string::npos);
    if (r.status != 200) Check(!answer.starts_with("HTTP/1.1 200"));
    break;
  }
  return 0;
}
