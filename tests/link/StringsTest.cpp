#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "link/Strings.h"

namespace wendrix {
namespace {

TEST(Strings, IntToBytesOfNetworkOrderIsBigEndian) {
  EXPECT_EQ(IntToBytes(htonl(41503)), std::string("\x00\x00\xA2\x1F", 4));
  EXPECT_EQ(IntToBytes(htonl(0x01020304)), std::string("\x01\x02\x03\x04", 4));
}

TEST(Strings, StringToBufferCopiesEveryByteWithoutTerminator) {
  const std::string text("a\0b\xFF", 4);
  int32_t length = -1;
  auto buffer = StringToBuffer(text, length);
  ASSERT_EQ(length, 4);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.get()), 4), text);

  auto empty = StringToBuffer("", length);
  EXPECT_EQ(length, 0);
}

}  // namespace
}  // namespace wendrix
