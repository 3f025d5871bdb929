#include "storage/data_file_format.h"

#include <algorithm>
#include <vector>

#include "storage/engine_error.h"
#include "storage/scrambler.h"

namespace storage {
namespace {

constexpr std::uint16_t kHeader = Code(ErrorCode::kHeaderError);
constexpr std::uint16_t kRecords = Code(ErrorCode::kCorruptRecords);
// File positions are kept below 2^31 (32-bit signed offsets on the
// original platform, and the memory files' limit).
constexpr std::uint64_t kMaxFilePosition = 0x7FFFFFFF;

}  // namespace

template <std::size_t N>
void ScrambleHeaderString(ShortString<N>& s) {
  ScrambleBuffer(s.Chars, static_cast<std::uint16_t>(s.View().size()), kHeaderScrambleLow,
                 kHeaderScrambleHigh);
}
template void ScrambleHeaderString<15>(ShortString<15>&);
template void ScrambleHeaderString<50>(ShortString<50>&);

void ScrambleTableContents(void* buffer, std::size_t n) {
  ScrambleBuffer(buffer, static_cast<std::uint16_t>(n & 0xFFFF), kContentScrambleLow,
                 kContentScrambleHigh);
}

bool EndsInsideItsHeader(std::span<const std::uint8_t> head, std::uint64_t file_size) {
  if (file_size < kDataHeaderSize) return true;
  if (head.size() < kDataHeaderSize) return false;
  DataFileHeader h;
  std::memcpy(h.Data(), head.data(), kDataHeaderSize);
  const std::uint64_t count = h.FieldCount();
  if (h.Version() != kDataFileVersion || count == 0 || count > kMaxFields || h.EncryptedByte() > 1 ||
      file_size >= h.DataStart())
    return false;
  // The descriptors present, unscrambled as one block from its start (only
  // the first 768 x count mod 65536 bytes of it are scrambled); of the last
  // one, cut, as much of its field number as there is.
  const std::size_t present = std::min<std::uint64_t>(file_size, head.size()) - kDataHeaderSize;
  std::vector<std::uint8_t> area(head.begin() + kDataHeaderSize,
                                 head.begin() + static_cast<std::ptrdiff_t>(kDataHeaderSize + present));
  if (h.Encrypted()) {
    ScrambleTableContents(area.data(),
                          std::min<std::size_t>(area.size(), (kFieldDescriptorSize * count) & 0xFFFF));
  }
  for (std::size_t k = 0; k * kFieldDescriptorSize < area.size(); ++k) {
    const std::size_t at = k * kFieldDescriptorSize;
    const std::size_t position = k + 1;
    if (area[at] != (position & 0xFF)) return false;
    if (at + 1 < area.size() && area[at + 1] != (position >> 8)) return false;
  }
  return true;
}

RecordSizes ComputeRecordSizes(std::span<const TFieldDescriptor> fields) {
  RecordSizes r;
  for (const TFieldDescriptor& f : fields) {
    if (f.IsComputed()) {
      r.computed += f.PhysicalSize + 1u;
    } else if (!f.IsAutoIncrement()) {
      r.record += f.PhysicalSize + 1u;
    }
  }
  return r;
}

std::uint16_t CheckDataHeader(const DataFileHeader& h, std::uint64_t file_size) {
  if (file_size < kDataHeaderSize) return kHeader;
  if (h.Version() != kDataFileVersion) return Code(ErrorCode::kWrongVersion);
  if (h.FieldCount() == 0 || h.FieldCount() > kMaxFields) return kHeader;
  if (h.BlobCount() > kMaxBlobFields) return kHeader;
  if (h.RecordSize() < kRecordPrefixSize) return kHeader;
  if (std::size_t{h.RecordSize()} + h.ComputedSize() > kMaxRecordBufferSize) return kHeader;
  if (h.EncryptedByte() > 1) return kHeader;
  if (h.Description().Length > kMaxDescriptionLength) return kHeader;
  if (h.Password().Length > kMaxPasswordLength) return kHeader;
  if (file_size < h.DataStart()) return kHeader;
  if (h.NextRecord() == 0) return kHeader;
  // Records 1 .. next - 1 must lie in the file (a file may be longer: a
  // record written just before its header was).
  const std::uint64_t records_end =
      h.DataStart() + std::uint64_t{h.NextRecord() - 1} * h.RecordSize();
  if (records_end > file_size) return kRecords;
  // The append position itself must stay addressable.
  if (records_end + h.RecordSize() > kMaxFilePosition) return kRecords;
  if (h.FreeHead() >= h.NextRecord()) return kRecords;
  return 0;
}

std::uint16_t CheckFieldDescriptors(std::span<const TFieldDescriptor> fields,
                                    const DataFileHeader& h) {
  if (fields.size() != h.FieldCount()) return kHeader;
  const std::uint32_t record_size = h.RecordSize();
  const std::uint32_t buffer_size = record_size + h.ComputedSize();
  std::uint32_t blobs = 0;
  for (const TFieldDescriptor& f : fields) {
    if (!IsKnownFieldType(f.FieldType)) return kHeader;
    if (f.Name.Length > 30 || f.SecondText.Length > 50 || f.MinValue.Length > 50 ||
        f.MaxValue.Length > 50 || f.DefaultValue.Length > 50)
      return kHeader;
    if (f.Computed > 1) return kHeader;
    const FieldType type = f.Type();
    int declared = 0;
    if (HasDeclaredSize(type)) {
      if (f.Size > kMaxDeclaredSize) return kHeader;
      declared = f.Size;
    } else if (f.Size != 0) {
      return kHeader;
    }
    if (f.PhysicalSize != PhysicalSize(type, declared)) return kHeader;
    const std::uint32_t end = f.Offset + 1u + f.PhysicalSize;
    if (f.IsComputed()) {
      if (f.Offset < record_size || end > buffer_size) return kHeader;
    } else if (f.IsAutoIncrement()) {
      if (f.Offset != kRecordIdOffset) return kHeader;
    } else if (f.Offset < kRecordPrefixSize || end > record_size) {
      return kHeader;
    }
    if (type == FieldType::kBlob) ++blobs;
  }
  const RecordSizes sizes = ComputeRecordSizes(fields);
  if (sizes.record != record_size || sizes.computed != h.ComputedSize()) return kHeader;
  if (blobs != h.BlobCount()) return kHeader;
  return 0;
}

}  // namespace storage
