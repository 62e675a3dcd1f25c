// Byte layout of the device's event archive file.
//
// The file has no header: a ring of 992 eight-byte event records, then the
// write offset as a signed 32-bit little-endian integer. Bytes past the write
// offset are never read. See docs/archive_format.md for the prose description.
#pragma once

#include <array>
#include <cstdint>

namespace veks {

inline constexpr int kRecordSize = 8;
inline constexpr int kSlotCount = 992;
inline constexpr int kRingBytes = kSlotCount * kRecordSize;  // 7,936
inline constexpr int kWriteOffsetBytes = 4;
inline constexpr int kFileBytes = kRingBytes + kWriteOffsetBytes;  // 7,940

inline constexpr int kBlockRecords = 16;
inline constexpr int kBlockCount = kSlotCount / kBlockRecords;  // 62

// The write offset that marks an archive without records (file bytes FF 00 00 00).
inline constexpr std::int32_t kEmptyArchiveMarker = 255;
// Byte offset of the last slot of the ring.
inline constexpr int kLastSlotOffset = kRingBytes - kRecordSize;  // 7,928

// Byte positions inside one record.
inline constexpr int kCodeByte = 0;
inline constexpr int kArgumentByte = 1;
inline constexpr int kSecondsByte = 2;
inline constexpr int kMinutesByte = 3;
inline constexpr int kHoursByte = 4;
inline constexpr int kDayByte = 5;
inline constexpr int kMonthByte = 6;
inline constexpr int kYearByte = 7;

// Event code of an incorrect (erased) record.
inline constexpr std::uint8_t kInvalidCode = 0xFF;

using EventRecord = std::array<std::uint8_t, kRecordSize>;
using Ring = std::array<std::uint8_t, kRingBytes>;

}  // namespace veks
