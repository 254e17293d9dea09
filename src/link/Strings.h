// Small string helpers: the bytes of wire records, and text made safe for
// markup (the status pages, the Bluetooth service record).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace wendrix {

// A fresh buffer holding exactly the bytes of `text`, no terminator added;
// `length` receives the number of bytes.
std::unique_ptr<uint8_t[]> StringToBuffer(std::string_view text, int32_t& length);

// The four bytes of `value` as they lie in memory. Convert with htonl
// first to get them in network order.
std::string IntToBytes(uint32_t value);

// `text` safe inside markup (XML or HTML), in text and in quoted
// attribute values alike.
std::string EscapeMarkup(std::string_view text);

}  // namespace wendrix
