// Streams of the class framework: an abstract byte stream with a position,
// a growable memory stream and a file stream. Positions and sizes are 64-bit.
// A position may lie beyond the end (writing there fills the gap with
// zeros); a seek to a negative position returns -1 and keeps the position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fw {

enum class TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Reads up to count bytes at the position; returns the bytes read.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes count bytes at the position; returns the bytes written.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  // Sets the size; the position is kept but no further than the new size.
  virtual void SetSize(std::int64_t new_size) = 0;

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  virtual std::int64_t Size();

  // Reads or writes exactly count bytes, else EReadError "Stream read error"
  // / EWriteError "Stream write error".
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies count bytes from source (count 0: the whole source from its
  // start); returns the bytes copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t new_size) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

  void Clear();
  void LoadFromStream(TStream& source);
  void LoadFromFile(const std::string& file_name);
  void SaveToStream(TStream& dest);
  void SaveToFile(const std::string& file_name);

  std::byte* Memory() { return data_.data(); }
  const std::byte* Memory() const { return data_.data(); }
  const std::vector<std::byte>& Bytes() const { return data_; }

 private:
  std::vector<std::byte> data_;
  std::int64_t position_ = 0;
};

// File open modes, combined from one access mode and one share mode.
enum : std::uint32_t {
  fmCreate = 0xFFFF,
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
};

// A stream over a disk file. Opening failures raise EFOpenError
// "Cannot open file <name>", creation failures EFCreateError
// "Cannot create file <name>". fmCreate creates or truncates and opens for
// reading and writing. The share bits are accepted and not enforced
// (platform::File provides exclusive sharing where the engine needs it).
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& file_name, std::uint32_t mode);
  ~TFileStream() override;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t new_size) override;
  const std::string& FileName() const { return file_name_; }

 private:
  std::string file_name_;
  int fd_ = -1;
};

}  // namespace fw
