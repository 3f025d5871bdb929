// Writing a frame's pixels as GIF image data: the code size byte, the codes
// packed least significant bit first into sub-blocks of at most 255 bytes,
// and a terminating 0 byte. Two encoders: LZW with a hashed string table and
// a run-length coder that emits only codes any GIF decoder understands.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/streams.h"

namespace gif {

class TGIFSubImage;

// Writes the frame's image data with the coding chosen by its image.
void EncodeImageData(TGIFSubImage& frame, fw::TStream& stream);

// The LZW string table: 8192 slots (twice the 4096 codes, a power of two so
// the slot is a mask, not a division: the lookup is on the encoder's
// critical path), each (key << 12) | code with key = (prefix << 8) | pixel
// in the upper 20 bits; an empty slot has all bits set. Linear probing.
class THashTable {
 public:
  static constexpr int kSize = 8192;
  void Clear();
  void Insert(std::uint32_t key, int code);
  // The code stored for key, or -1.
  int Lookup(std::uint32_t key) const;
  // The code stored for key; on a miss -1, with slot set to the empty slot
  // where Store puts the key.
  int Find(std::uint32_t key, int& slot) const {
    int i = Hash(key);
    const std::uint32_t want = key << 12;
    for (;;) {
      const std::uint32_t v = slots_[i];
      if (v == kEmpty) {
        slot = i;
        return -1;
      }
      if ((v & 0xFFFFF000u) == want) return static_cast<int>(v & 0xFFF);
      i = (i + 1) & (kSize - 1);
    }
  }
  void Store(int slot, std::uint32_t key, int code) {
    slots_[slot] = (key << 12) | static_cast<std::uint32_t>(code & 0xFFF);
  }

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  static int Hash(std::uint32_t key) { return static_cast<int>(((key >> 12) ^ key) & (kSize - 1)); }
  std::uint32_t slots_[kSize];
};

// A write-only adapter over the target stream: reading, seeking and sizing
// raise fw::Exception "Invalid stream operation", and so does writing in
// this base.
class TGIFStream : public fw::TStream {
 public:
  explicit TGIFStream(fw::TStream& stream) : stream_(stream) {}
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, fw::TSeekOrigin origin) override;
  void SetSize(std::int64_t new_size) override;

 protected:
  fw::TStream& stream_;
};

// Collects bytes into data sub-blocks: byte 0 the size, bytes 1..255 data.
// A full block goes out at once; Flush writes a partly filled one.
class TGIFWriter : public TGIFStream {
 public:
  explicit TGIFWriter(fw::TStream& stream) : TGIFStream(stream) {}
  ~TGIFWriter() override;

  void PutByte(std::uint8_t b) {
    block_[pos_++] = b;
    if (pos_ == 256) FlushBlock();
  }
  std::int64_t Write(const void* data, std::int64_t count) override;
  // Writes a partly filled block; the destructor does so too, but cannot
  // report a failing stream.
  void Flush();

 private:
  void FlushBlock();
  std::uint8_t block_[256];
  int pos_ = 1;
};

using TGIFEncoderWarning = std::function<void(const std::string& message)>;

class TGIFEncoder {
 public:
  virtual ~TGIFEncoder() = default;
  TGIFEncoder() = default;
  TGIFEncoder(const TGIFEncoder&) = delete;
  TGIFEncoder& operator=(const TGIFEncoder&) = delete;

  // Writes the code size byte, the codes and the terminator. pixels holds
  // height rows of width bytes, top to bottom; interlaced writes the rows in
  // the four-pass order. "Color not in color table" for a pixel not below
  // colors.
  void Encode(fw::TStream& stream, int code_size, int colors, const std::uint8_t* pixels, bool interlaced,
              int height, int width);

  TGIFEncoderWarning OnWarning;

 protected:
  virtual void OutputCode(int code);
  virtual void EmitClear();
  virtual void CompressPixels() = 0;

  // Calls visit(row pointer) for every row in the order written.
  template <class F>
  void ForEachRow(F&& visit);
  void CheckPixel(std::uint8_t p) const;

  TGIFWriter* writer_ = nullptr;
  int colors_ = 0;
  int code_size_ = 0;
  int width_ = 0;
  int height_ = 0;
  bool interlaced_ = false;
  const std::uint8_t* pixels_ = nullptr;
  std::uint32_t bit_buffer_ = 0;
  int bit_count_ = 0;
  bool just_cleared_ = false;
  int bits_per_code_ = 0;
  int initial_bits_ = 0;
  int max_code_ = 0;
  int clear_code_ = 0;
  int end_code_ = 0;
  int base_code_ = 0;
};

class TLZWEncoder final : public TGIFEncoder {
 protected:
  void OutputCode(int code) override;
  void EmitClear() override;
  void CompressPixels() override;

 private:
  int next_free_ = 0;
  THashTable hash_;
};

// Run-length coding after the "rle" scheme: a run of n equal pixels goes out
// as table codes for runs of 1, 2, 3... pixels that the decoder's own string
// table builds, so the stream stays valid LZW.
class TRLEEncoder final : public TGIFEncoder {
 protected:
  void EmitClear() override;
  void CompressPixels() override;

 private:
  void Output(int code);
  void Flush(int count);
  void FlushFromClear(int count);
  void FlushClearOrRepeat(int count);
  void FlushWithTable(int count);
  void ResetClearPoint();

  int max_codes_ = 0;
  int bump_init_ = 0;
  int bump_ = 0;
  int clear_init_ = 0;
  int clear_point_ = 0;
  int out_count_ = 0;
  int table_size_ = 0;
  int table_pixel_ = 0;
  int run_pixel_ = -1;
  int run_count_ = 0;
};

// Cost in codes of sending a run of count pixels from a cleared table whose
// runs grow by one per code, with at most n codes between clears.
int RunTriangle(int count, int n);
int IntegerSqrt(int x);

}  // namespace gif
