#include "link/Strings.h"

#include <cstring>

namespace wendrix {

std::unique_ptr<uint8_t[]> StringToBuffer(std::string_view text, int32_t& length) {
  length = static_cast<int32_t>(text.size());
  auto buffer = std::make_unique_for_overwrite<uint8_t[]>(text.size());
  if (!text.empty()) std::memcpy(buffer.get(), text.data(), text.size());
  return buffer;
}

std::string IntToBytes(uint32_t value) {
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

std::string EscapeMarkup(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace wendrix
