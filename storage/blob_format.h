// The BLOB file NAME.BLB: layout, constants and field access.
//
// A table keeps the values of its BLOB fields in a file beside its data
// file. The file is a 512-byte header followed by blocks of B bytes lying
// back to back from offset 512; B is the table's BLOB block size (the data
// file's header, low 16 bits, 512 when 0, at least 64). A block is named by
// its file offset 512 + k * B; offset 0 means "no block". Little-endian,
// packed.
//
// Header (512 bytes at offset 0):
//
//   OFFSET  SIZE  DESCRIPTION
//      0      4   change counter, u32: +1 before every header write
//      4      4   0 at creation; not read
//      8      1   version, u8: 3
//      9      4   free-list head, u32: first free block, 0 when none
//     13      4   end offset, u32: where the next new block goes (512 new)
//     17    495   0 at creation; not read
//
// Block (B bytes):
//
//   OFFSET  SIZE  DESCRIPTION
//      0      4   previous block of the chain, u32 (0 in the first block)
//      4      4   next block, u32 (0 in the last; in a free block: next free)
//      8      2   bytes used in this block's data area, u16
//     10      4   physical record number owning the chain, u32
//     14      4   total length of the value, u32 (first block only, else 0)
//     18  B - 18  data area
//
// A value of L > 0 bytes fills ceil(L / (B - 18)) blocks, every one but the
// last full. An empty value has no chain; the record's field holds 0. A
// record's BLOB field holds the offset of the first block (or, while the
// value is open, its negated handle).
//
// Encrypted tables: the header is scrambled as one 512-byte buffer; in each
// block the 18-byte header and the data area are scrambled as two separate
// buffers, each from the start state of the table's contents pair.
//
// Everything read from the file is untrusted. A block offset is valid only
// when it is >= 512, a whole number of blocks past 512 and below the end
// offset (see IsValidBlockOffset); anything else is a damaged file.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/little_endian.h"

namespace storage {

using platform::LoadLittle;
using platform::StoreLittle;

constexpr std::uint32_t kBlobHeaderSize = 512;
constexpr std::uint32_t kBlockHeaderSize = 18;
constexpr std::uint8_t kBlobVersion = 3;
constexpr std::uint32_t kBlobDefaultBlockSize = 512;
constexpr std::uint32_t kBlobMinBlockSize = 64;
// The cache holds about this many bytes of blocks, at most kMaxCachedBlocks.
constexpr std::uint32_t kBlockCacheBytes = 262140;
constexpr std::uint32_t kMaxCachedBlocks = 4096;
// A batch grows a full cache by this many blocks instead of evicting.
constexpr std::uint32_t kBatchCacheGrowth = 256;
constexpr std::uint16_t kMaxBlockPins = 64;
// Open values per BLOB file.
constexpr int kMaxOpenBlobs = 64;

// Header field offsets.
constexpr std::size_t kHeaderCounter = 0;
constexpr std::size_t kHeaderVersion = 8;
constexpr std::size_t kHeaderFreeHead = 9;
constexpr std::size_t kHeaderEndOffset = 13;

// Block header field offsets.
constexpr std::size_t kBlockPrev = 0;
constexpr std::size_t kBlockNext = 4;
constexpr std::size_t kBlockUsed = 8;
constexpr std::size_t kBlockRecord = 10;
constexpr std::size_t kBlockTotal = 14;

// An open value's handle as a record's BLOB field holds it, and back:
// negated (-x; INT32_MIN has no positive counterpart and stays as it is).
constexpr std::int32_t Negate(std::int32_t x) {
  return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(x));
}

// B from the data file's header field: low 16 bits, 0 meaning 512.
constexpr std::uint32_t EffectiveBlobBlockSize(std::uint32_t header_field) {
  const std::uint32_t b = header_field & 0xFFFF;
  return b == 0 ? kBlobDefaultBlockSize : b;
}

// True for an offset that can name an existing block of a file whose next
// new block would go at end_offset.
constexpr bool IsValidBlockOffset(std::uint32_t offset, std::uint32_t block_size,
                                  std::uint32_t end_offset) {
  return offset >= kBlobHeaderSize && (offset - kBlobHeaderSize) % block_size == 0 &&
         static_cast<std::uint64_t>(offset) + block_size <= end_offset;
}

}  // namespace storage
