#include "protocol/Protocol.h"

#include <algorithm>

namespace wendrix {

void WriteLegacyRecord(uint8_t* out, const LegacyRecord& record) {
  WriteLittleEndian16(out + kLegacySequenceOffset, record.sequence);
  WriteBigEndian16(out + kLegacySteeringOffset, record.steering);
  WriteBigEndian16(out + kLegacyPedalsOffset, record.pedals);
  out[kLegacyButtonsOffset] = record.buttons;
}

std::array<uint8_t, kLegacyRecordSize> BuildLegacyRecord(const LegacyRecord& record) {
  std::array<uint8_t, kLegacyRecordSize> bytes{};
  WriteLegacyRecord(bytes.data(), record);
  return bytes;
}

std::vector<uint8_t> BuildLegacyRecords(std::span<const LegacyRecord> records) {
  std::vector<uint8_t> bytes(records.size() * kLegacyRecordSize);
  for (size_t i = 0; i < records.size(); ++i)
    WriteLegacyRecord(bytes.data() + i * kLegacyRecordSize, records[i]);
  return bytes;
}

std::array<uint8_t, kLegacyPreambleSize> BuildLegacyPreamble(uint16_t trailer) {
  std::array<uint8_t, kLegacyPreambleSize> bytes{};
  std::copy(kAppIdentifier.begin(), kAppIdentifier.end(), bytes.begin());
  WriteBigEndian16(&bytes[kAppIdentifierSize], trailer);
  return bytes;
}

std::array<uint8_t, kLegacyOpeningSize> BuildLegacyOpening(uint16_t trailer) {
  std::array<uint8_t, kLegacyOpeningSize> bytes{};
  WriteBigEndian32(bytes.data(), kLegacyModeWord);
  const auto preamble = BuildLegacyPreamble(trailer);
  std::copy(preamble.begin(), preamble.end(), bytes.begin() + kModeWordSize);
  return bytes;
}

std::vector<uint8_t> BuildFramedMessage(const FramedControl& control, size_t length) {
  // Laid out at full size, then cut to the requested length.
  std::vector<uint8_t> bytes(std::max(length, kFramedButtonsLength), 0);
  std::copy(kAppIdentifier.begin(), kAppIdentifier.end(), bytes.begin());
  WriteBigEndian32(&bytes[kFramedSteeringOffset], static_cast<uint32_t>(control.steering));
  WriteBigEndian32(&bytes[kFramedPedalsOffset], static_cast<uint32_t>(control.pedals));
  WriteBigEndian16(&bytes[kFramedSequenceOffset], control.sequence);
  bytes[kFramedButton1Offset] = control.button1;
  bytes[kFramedButton2Offset] = control.button2;
  bytes.resize(length);
  return bytes;
}

std::vector<uint8_t> BuildFrameWithLength(uint32_t length, std::span<const uint8_t> payload) {
  std::vector<uint8_t> bytes(kFramePrefixSize + payload.size());
  WriteBigEndian32(bytes.data(), length);
  std::copy(payload.begin(), payload.end(), bytes.begin() + kFramePrefixSize);
  return bytes;
}

std::vector<uint8_t> BuildFrame(std::span<const uint8_t> payload) {
  return BuildFrameWithLength(static_cast<uint32_t>(payload.size()), payload);
}

std::array<uint8_t, kDatagramSize> BuildControlDatagram(const LegacyRecord& record, uint8_t type) {
  std::array<uint8_t, kDatagramSize> bytes{};
  bytes[0] = type;
  WriteLegacyRecord(bytes.data() + 1, record);
  return bytes;
}

}  // namespace wendrix
