#include "gif/gif_encoder.h"

#include <algorithm>
#include <cstring>

#include "gif/gif_exception.h"
#include "gif/gif_image.h"
#include "gif/gif_stream_io.h"
#include "gif/gif_sub_image.h"

namespace gif {

// --- THashTable ---------------------------------------------------------------

void THashTable::Clear() { std::memset(slots_, 0xFF, sizeof slots_); }

void THashTable::Insert(std::uint32_t key, int code) {
  int i = Hash(key);
  // At most 4096 entries in 8192 slots: an empty slot is always found.
  while (slots_[i] != kEmpty) i = (i + 1) & (kSize - 1);
  slots_[i] = (key << 12) | static_cast<std::uint32_t>(code & 0xFFF);
}

int THashTable::Lookup(std::uint32_t key) const {
  int i = Hash(key);
  const std::uint32_t want = key << 12;
  for (;;) {
    const std::uint32_t slot = slots_[i];
    if (slot == kEmpty) return -1;
    if ((slot & 0xFFFFF000u) == want) return static_cast<int>(slot & 0xFFF);
    i = (i + 1) & (kSize - 1);
  }
}

// --- TGIFStream / TGIFWriter -----------------------------------------------------

namespace {
[[noreturn]] void InvalidStreamOperation() { throw fw::Exception(kInvalidStreamOperation); }
}  // namespace

std::int64_t TGIFStream::Read(void*, std::int64_t) { InvalidStreamOperation(); }
std::int64_t TGIFStream::Write(const void*, std::int64_t) { InvalidStreamOperation(); }
std::int64_t TGIFStream::Seek(std::int64_t, fw::TSeekOrigin) { InvalidStreamOperation(); }
void TGIFStream::SetSize(std::int64_t) { InvalidStreamOperation(); }

TGIFWriter::~TGIFWriter() {
  try {
    Flush();
  } catch (...) {
  }
}

std::int64_t TGIFWriter::Write(const void* data, std::int64_t count) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  for (std::int64_t i = 0; i < count; ++i) PutByte(p[i]);
  return count < 0 ? 0 : count;
}

void TGIFWriter::FlushBlock() {
  block_[0] = static_cast<std::uint8_t>(pos_ - 1);
  const int n = pos_;
  pos_ = 1;
  stream_.WriteBuffer(block_, n);
}

void TGIFWriter::Flush() {
  if (pos_ > 1) FlushBlock();
}

// --- TGIFEncoder --------------------------------------------------------------

void TGIFEncoder::Encode(fw::TStream& stream, int code_size, int colors, const std::uint8_t* pixels,
                         bool interlaced, int height, int width) {
  if (code_size < 2) code_size = 2;
  WriteByte(stream, static_cast<std::uint8_t>(code_size));
  code_size_ = code_size;
  colors_ = colors;
  pixels_ = pixels;
  interlaced_ = interlaced;
  height_ = height;
  width_ = width;
  initial_bits_ = bits_per_code_ = code_size + 1;
  max_code_ = (1 << bits_per_code_) - 1;
  clear_code_ = 1 << code_size;
  end_code_ = clear_code_ + 1;
  base_code_ = clear_code_ + 2;
  bit_buffer_ = 0;
  bit_count_ = 0;
  just_cleared_ = false;
  {
    TGIFWriter writer(stream);
    writer_ = &writer;
    try {
      if (pixels && width >= 1 && height >= 1) CompressPixels();
      OutputCode(end_code_);
    } catch (...) {
      writer_ = nullptr;
      throw;
    }
    writer.Flush();
    writer_ = nullptr;
  }
  WriteByte(stream, 0);
}

void TGIFEncoder::OutputCode(int code) {
  bit_buffer_ |= static_cast<std::uint32_t>(code) << bit_count_;
  bit_count_ += bits_per_code_;
  while (bit_count_ >= 8) {
    writer_->PutByte(static_cast<std::uint8_t>(bit_buffer_));
    bit_buffer_ >>= 8;
    bit_count_ -= 8;
  }
  if (code == end_code_ && bit_count_ > 0) {
    writer_->PutByte(static_cast<std::uint8_t>(bit_buffer_));
    bit_buffer_ = 0;
    bit_count_ = 0;
  }
}

void TGIFEncoder::EmitClear() {
  just_cleared_ = true;
  OutputCode(clear_code_);
}

void TGIFEncoder::CheckPixel(std::uint8_t p) const {
  if (p >= colors_) RaiseGIFError(kColorNotInTable);
}

template <class F>
void TGIFEncoder::ForEachRow(F&& visit) {
  const std::size_t stride = static_cast<std::size_t>(width_);
  if (!interlaced_) {
    for (int y = 0; y < height_; ++y) visit(pixels_ + static_cast<std::size_t>(y) * stride);
    return;
  }
  static constexpr int kStart[4] = {0, 4, 2, 1};
  static constexpr int kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int y = kStart[pass]; y < height_; y += kStep[pass]) visit(pixels_ + static_cast<std::size_t>(y) * stride);
}

// --- TLZWEncoder --------------------------------------------------------------

void TLZWEncoder::OutputCode(int code) {
  TGIFEncoder::OutputCode(code);
  if (next_free_ > max_code_ || just_cleared_) {
    if (just_cleared_) {
      bits_per_code_ = initial_bits_;
      max_code_ = (1 << bits_per_code_) - 1;
      just_cleared_ = false;
    } else {
      ++bits_per_code_;
      max_code_ = bits_per_code_ >= 12 ? 4096 : (1 << bits_per_code_) - 1;
    }
  }
}

void TLZWEncoder::EmitClear() {
  TGIFEncoder::EmitClear();
  hash_.Clear();
  next_free_ = clear_code_ + 2;
}

void TLZWEncoder::CompressPixels() {
  next_free_ = clear_code_ + 2;
  EmitClear();
  int prefix = -1;
  ForEachRow([&](const std::uint8_t* row) {
    int x = 0;
    if (prefix < 0) {
      CheckPixel(row[0]);
      prefix = row[0];
      x = 1;
    }
    for (; x < width_; ++x) {
      const std::uint8_t c = row[x];
      CheckPixel(c);
      const std::uint32_t key = (static_cast<std::uint32_t>(prefix) << 8) | c;
      int slot;
      const int code = hash_.Find(key, slot);
      if (code >= 0) {
        prefix = code;
        continue;
      }
      OutputCode(prefix);
      prefix = c;
      if (next_free_ >= 4095) {
        EmitClear();
      } else {
        hash_.Store(slot, key, next_free_);
        ++next_free_;
      }
    }
  });
  OutputCode(prefix);
}

// --- TRLEEncoder --------------------------------------------------------------

int IntegerSqrt(int x) {
  if (x < 2) return x;
  int r = 1;
  for (int v = x; v > 0; v /= 4) r *= 2;
  for (int guard = 0; guard < 64; ++guard) {
    const int n = (x / r + r) / 2;
    if (n == r || n == r + 1) return r;
    r = n;
  }
  return r;
}

int RunTriangle(int count, int n) {
  const int per = n * (n + 1) / 2;
  int cost = 0;
  while (count >= per) {
    cost += n;
    count -= per;
  }
  if (count > 0) {
    int k = IntegerSqrt(count);
    while (k * (k + 1) >= 2 * count) --k;
    while (k * (k + 1) < 2 * count) ++k;
    cost += k;
  }
  return cost;
}

void TRLEEncoder::EmitClear() {
  bump_ = bump_init_;
  clear_point_ = clear_init_;
  out_count_ = 0;
  table_size_ = 0;
  TGIFEncoder::EmitClear();
  bits_per_code_ = initial_bits_;
}

void TRLEEncoder::Output(int code) {
  just_cleared_ = false;
  TGIFEncoder::OutputCode(code);
  ++out_count_;
  if (out_count_ >= bump_) {
    ++bits_per_code_;
    bump_ += 1 << (bits_per_code_ - 1);
  }
  if (out_count_ >= clear_point_) EmitClear();
}

void TRLEEncoder::ResetClearPoint() {
  clear_point_ = clear_init_;
  if (out_count_ >= clear_point_) EmitClear();
}

void TRLEEncoder::FlushFromClear(int count) {
  clear_point_ = max_codes_;
  table_pixel_ = run_pixel_;
  int n = 1;
  while (count > 0) {
    if (n == 1) {
      table_size_ = 1;
      Output(run_pixel_);
      count -= 1;
    } else if (count >= n) {
      table_size_ = n;
      Output(base_code_ + n - 2);
      count -= n;
    } else {
      table_size_ += 1;
      Output(count == 1 ? run_pixel_ : base_code_ + count - 2);
      count = 0;
      break;
    }
    n = (out_count_ == 0) ? 1 : n + 1;
  }
  ResetClearPoint();
}

void TRLEEncoder::FlushClearOrRepeat(int count) {
  const int with_clear = 1 + RunTriangle(count, max_codes_);
  if (with_clear < count) {
    EmitClear();
    FlushFromClear(count);
  } else {
    for (int i = 0; i < count; ++i) Output(run_pixel_);
  }
}

void TRLEEncoder::FlushWithTable(int count) {
  int repeats = count / table_size_;
  int leftover = count % table_size_;
  int extra = leftover > 0 ? 1 : 0;
  if (out_count_ + repeats + extra > max_codes_) {
    repeats = max_codes_ - out_count_;
    leftover = count - repeats * table_size_;
    extra = 1 + RunTriangle(leftover, max_codes_);
  }
  if (1 + RunTriangle(count, max_codes_) < repeats + extra) {
    EmitClear();
    FlushFromClear(count);
    return;
  }
  clear_point_ = max_codes_;
  const int code = base_code_ + table_size_ - 2;
  for (int i = 0; i < repeats; ++i) Output(code);
  if (leftover > 0) {
    if (just_cleared_) {
      FlushFromClear(leftover);
    } else if (leftover == 1) {
      Output(run_pixel_);
    } else {
      Output(base_code_ + leftover - 2);
    }
  }
  ResetClearPoint();
}

void TRLEEncoder::Flush(int count) {
  if (count == 1) {
    Output(run_pixel_);
  } else if (just_cleared_) {
    FlushFromClear(count);
  } else if (table_size_ < 2 || table_pixel_ != run_pixel_) {
    FlushClearOrRepeat(count);
  } else {
    FlushWithTable(count);
  }
}

void TRLEEncoder::CompressPixels() {
  bump_init_ = clear_code_ - 1;
  clear_init_ = code_size_ <= 3 ? 9 : clear_code_ - 2;
  max_codes_ = 4095 - base_code_;
  EmitClear();
  run_pixel_ = -1;
  run_count_ = 0;
  ForEachRow([&](const std::uint8_t* row) {
    for (int x = 0; x < width_; ++x) {
      const int c = row[x];
      CheckPixel(static_cast<std::uint8_t>(c));
      if (run_count_ > 0 && c != run_pixel_) {
        Flush(run_count_);
        run_count_ = 0;
      }
      if (run_count_ == 0) run_pixel_ = c;
      ++run_count_;
    }
  });
  if (run_count_ > 0) Flush(run_count_);
}

// --- EncodeImageData ----------------------------------------------------------

void EncodeImageData(TGIFSubImage& frame, fw::TStream& stream) {
  int code_size;
  int colors;
  if (frame.ColorMap().Count() > 0) {
    colors = frame.ColorMap().Count();
    code_size = BitsNeeded(colors);
  } else {
    code_size = frame.Image() ? frame.Image()->BitsPerPixel() : 0;
    if (code_size == 0) {
      // No colour table anywhere (the reader's default colours apply): the
      // code size follows the pixels themselves.
      int top = 0;
      for (std::size_t i = 0; i < frame.DataSize(); ++i) top = std::max<int>(top, frame.Data()[i]);
      code_size = BitsNeeded(top + 1);
    }
    colors = 1 << code_size;
  }
  TGIFImage* image = frame.Image();
  std::unique_ptr<TGIFEncoder> encoder;
  if (image && image->Compression() == TGIFCompression::gcRLE)
    encoder = std::make_unique<TRLEEncoder>();
  else
    encoder = std::make_unique<TLZWEncoder>();
  if (image) encoder->OnWarning = [image, &frame](const std::string& m) { image->ReportWarning(&frame, 1, m); };
  encoder->Encode(stream, code_size, colors, frame.Empty() ? nullptr : frame.Data(), frame.Interlaced(),
                  frame.Height(), frame.Width());
}

}  // namespace gif
