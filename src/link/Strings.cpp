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

}  // namespace wendrix
