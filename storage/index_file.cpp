#include "storage/index_file.h"

#include <algorithm>

#include "storage/table_names.h"

namespace storage {

TIndexFile::TIndexFile(IndexFileOwner* owner) : IndexStore(owner) {}

TIndexFile::~TIndexFile() { TIndexFile::Close(); }

std::string TIndexFile::NormaliseFileName(std::string_view name) {
  return TableFileName(name, kIndexExtension);
}

void TIndexFile::Open() {
  if (IsOpen()) return;
  TFileHandler::Open();
  AttachCreated();
}

void TIndexFile::Close() {
  if (!IsOpen()) return;
  try {
    // Nothing may be lost at close: pages still dirty are written.
    if (!ReadOnly() && FlushIndexPages()) WriteHeader();
  } catch (...) {
    // Close never fails; the write error was the caller's to see earlier.
  }
  Detach();
  TFileHandler::Close();
}

void TIndexFile::CreateFile() {
  TFileHandler::CreateFile();
  try {
    InitNewHeader();
  } catch (...) {
    Detach();
    TFileHandler::Close();
    throw;
  }
}

void TIndexFile::AttachCreated() {
  try {
    Attach(Exclusive() || ReadOnly());
  } catch (...) {
    Detach();
    TFileHandler::Close();
    throw;
  }
}

std::int32_t TIndexFile::ReadBlock(std::uint32_t offset, std::uint8_t* buffer, std::int32_t n) {
  // A block past the end of the file is a short read whatever the sharing
  // mode: the caller reports the file as damaged.
  return ReadAtMost(offset, buffer, n);
}

bool TIndexFile::MapBlocks(std::uint32_t end, platform::FileView& view) {
  if (end > static_cast<std::uint32_t>(INT32_MAX)) return false;
  return MapView(0, static_cast<std::int32_t>(end), view);
}

void TIndexFile::WriteBlock(std::uint32_t offset, const std::uint8_t* buffer, std::int32_t n) {
  WriteAt(offset, buffer, n);
}

std::uint64_t TIndexFile::StorageSize() {
  const std::int64_t size = GetFileSize();
  return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

void TIndexFile::TruncateTo(std::uint32_t size) {
  Seek(size, 0);
  Write(nullptr, 0);
}

}  // namespace storage
