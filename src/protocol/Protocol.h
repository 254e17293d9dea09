// Wire formats of the phone link: constants, byte order, sequence numbers,
// and builders for every unit that crosses the link. The program itself
// only parses what it receives and sends the greeting and the
// announcement; the builders serve tests, benchmarks and the phone
// simulator.
//
// Byte order is big-endian everywhere except the sequence number of the
// legacy record, which is little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace wendrix {

// ---- Constants -------------------------------------------------------------

constexpr uint16_t kLinkPort = 41503;  // TCP, UDP and the announcement

// "io.kavre.pad": 12 ASCII bytes, no length, no terminator.
constexpr std::string_view kAppIdentifierText = "io.kavre.pad";
constexpr size_t kAppIdentifierSize = 12;
constexpr std::array<uint8_t, kAppIdentifierSize> kAppIdentifier = {'i', 'o', '.', 'k', 'a', 'v',
                                                                    'r', 'e', '.', 'p', 'a', 'd'};

// PC to phone, first bytes of every accepted stream: 2 as big-endian 16-bit.
constexpr std::array<uint8_t, 2> kGreeting = {0x00, 0x02};

// Phone to PC, first 4 bytes of a stream: zero selects legacy mode, any
// other value is already the length prefix of the first frame.
constexpr size_t kModeWordSize = 4;
constexpr uint32_t kLegacyModeWord = 0;

// Legacy mode: identifier plus 2 uninterpreted bytes after the mode word.
constexpr size_t kLegacyPreambleSize = kAppIdentifierSize + 2;              // 14
constexpr size_t kLegacyOpeningSize = kModeWordSize + kLegacyPreambleSize;  // 18

// Legacy control record: sequence (LE 16) at 0, steering (BE 16) at 2,
// pedals (BE 16) at 4, button byte at 6.
constexpr size_t kLegacyRecordSize = 7;
constexpr size_t kLegacySequenceOffset = 0;
constexpr size_t kLegacySteeringOffset = 2;
constexpr size_t kLegacyPedalsOffset = 4;
constexpr size_t kLegacyButtonsOffset = 6;
// A legacy stream is read in pieces of at most this many bytes.
constexpr size_t kLegacyChunkSize = 994;
constexpr size_t kLegacyRecordsPerChunk = kLegacyChunkSize / kLegacyRecordSize;  // 142
static_assert(kLegacyRecordsPerChunk * kLegacyRecordSize == kLegacyChunkSize);

// Frame: payload length (BE 32, at most kMaxFrameLength), then the payload.
constexpr size_t kFramePrefixSize = 4;
constexpr uint32_t kMaxFrameLength = 100000;

// Framed control message. Shorter than 22 bytes: ignored; 22 or more: axes;
// 24 or more: sequence number; 32 or more: buttons.
constexpr size_t kFramedAxesLength = 22;
constexpr size_t kFramedSequenceLength = 24;
constexpr size_t kFramedButtonsLength = 32;
constexpr size_t kFramedSteeringOffset = 14;  // signed BE 32, relative to centre
constexpr size_t kFramedPedalsOffset = 18;    // signed BE 32, relative to centre
constexpr size_t kFramedSequenceOffset = 22;  // BE 16
constexpr size_t kFramedButton1Offset = 24;   // weight 1; also the displayed byte
constexpr size_t kFramedButton2Offset = 25;   // weight 2
constexpr int32_t kFramedAxisCentre = 16384;

// UDP control datagram: type byte, then one legacy record.
constexpr size_t kDatagramSize = 1 + kLegacyRecordSize;  // 8
constexpr uint8_t kDatagramType = 0x01;
constexpr size_t kUdpBufferSize = 100;

// Discovery announcement: identifier, 0x01, 0x01, port as BE 32, 0x02.
constexpr size_t kAnnouncementSize = 19;

// ---- Byte order --------------------------------------------------------------

constexpr uint16_t ReadBigEndian16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
constexpr uint32_t ReadBigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
constexpr uint16_t ReadLittleEndian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
constexpr void WriteBigEndian16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
constexpr void WriteBigEndian32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
constexpr void WriteLittleEndian16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// ---- Parsing helpers ---------------------------------------------------------

// Sequence numbers are 16-bit: s is newer than last when s - last, taken
// modulo 65536 and read as signed, is above zero. So 1 is newer than
// 65535, and a number equal to last or up to 32768 behind it is not.
constexpr bool IsNewerSequence(uint16_t s, uint16_t last) {
  return static_cast<int16_t>(static_cast<uint16_t>(s - last)) > 0;
}

// All 12 bytes at p equal the identifier.
constexpr bool IsAppIdentifier(const uint8_t* p) {
  for (size_t i = 0; i < kAppIdentifierSize; ++i)
    if (p[i] != kAppIdentifier[i]) return false;
  return true;
}

// A received datagram is used only when it is exactly 8 bytes of type 0x01.
constexpr bool IsControlDatagram(const uint8_t* data, size_t size) {
  return size == kDatagramSize && data[0] == kDatagramType;
}

// ---- Builders ----------------------------------------------------------------

struct LegacyRecord {
  uint16_t sequence = 0;
  uint16_t steering = 0;  // driver units, taken unchanged
  uint16_t pedals = 0;    // driver units; 32768 is released
  uint8_t buttons = 0;    // bit i is button i + 1
};

struct FramedControl {
  int32_t steering = 0;  // relative to the centre 16384
  int32_t pedals = 0;    // relative to the centre 16384
  uint16_t sequence = 0;
  uint8_t button1 = 0;  // weight 1
  uint8_t button2 = 0;  // weight 2
};

void WriteLegacyRecord(uint8_t* out, const LegacyRecord& record);
std::array<uint8_t, kLegacyRecordSize> BuildLegacyRecord(const LegacyRecord& record);
// Records back to back, as a legacy stream carries them.
std::vector<uint8_t> BuildLegacyRecords(std::span<const LegacyRecord> records);

// Identifier and the 2 uninterpreted bytes.
std::array<uint8_t, kLegacyPreambleSize> BuildLegacyPreamble(uint16_t trailer = 0);
// Zero mode word followed by the preamble: all a phone sends before its
// first legacy record.
std::array<uint8_t, kLegacyOpeningSize> BuildLegacyOpening(uint16_t trailer = 0);

// A framed control message of exactly `length` bytes (any length from 0):
// the fields that fit, in their places; uninterpreted bytes are zero.
std::vector<uint8_t> BuildFramedMessage(const FramedControl& control, size_t length = kFramedButtonsLength);
// Length prefix followed by the payload. The prefix is the payload's size;
// BuildFrameWithLength writes any prefix, for streams that lie about it.
std::vector<uint8_t> BuildFrame(std::span<const uint8_t> payload);
std::vector<uint8_t> BuildFrameWithLength(uint32_t length, std::span<const uint8_t> payload);

std::array<uint8_t, kDatagramSize> BuildControlDatagram(const LegacyRecord& record,
                                                        uint8_t type = kDatagramType);

constexpr std::array<uint8_t, kAnnouncementSize> BuildAnnouncement(uint32_t port = kLinkPort) {
  std::array<uint8_t, kAnnouncementSize> a{};
  for (size_t i = 0; i < kAppIdentifierSize; ++i) a[i] = kAppIdentifier[i];
  a[12] = 0x01;
  a[13] = 0x01;
  WriteBigEndian32(&a[14], port);
  a[18] = 0x02;
  return a;
}
constexpr std::array<uint8_t, kAnnouncementSize> kAnnouncement = BuildAnnouncement();

}  // namespace wendrix
