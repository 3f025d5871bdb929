#include "gif/gif_stream_io.h"

#include "gif/gif_exception.h"

namespace gif {

void RaiseGIFError(const std::string& message) { throw GIFException(message); }

void ReadCheck(fw::TStream& stream, void* buffer, std::int64_t count) {
  if (count <= 0) return;
  if (stream.Read(buffer, count) != count) RaiseGIFError(kPrematureEOF);
}

int ReadByteOrEnd(fw::TStream& stream) {
  std::uint8_t b = 0;
  if (stream.Read(&b, 1) != 1) return -1;
  return b;
}

void WriteByte(fw::TStream& stream, std::uint8_t value) { stream.WriteBuffer(&value, 1); }

void WriteBytes(fw::TStream& stream, const void* data, std::int64_t count) {
  if (count > 0) stream.WriteBuffer(data, count);
}

std::vector<std::string> ReadStrings(fw::TStream& stream) {
  std::vector<std::string> lines;
  std::uint8_t size = 0;
  ReadCheck(stream, &size, 1);
  while (size != 0) {
    std::string line(size, '\0');
    ReadCheck(stream, line.data(), size);
    lines.push_back(std::move(line));
    ReadCheck(stream, &size, 1);
  }
  return lines;
}

void WriteStrings(fw::TStream& stream, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    std::size_t pos = 0;
    while (pos < line.size()) {
      std::size_t n = line.size() - pos;
      if (n > 255) n = 255;
      WriteByte(stream, static_cast<std::uint8_t>(n));
      WriteBytes(stream, line.data() + pos, static_cast<std::int64_t>(n));
      pos += n;
    }
  }
  WriteByte(stream, 0);
}

void SkipBlocks(fw::TStream& stream) {
  for (;;) {
    int size = ReadByteOrEnd(stream);
    if (size <= 0) return;
    stream.Seek(size, fw::TSeekOrigin::soCurrent);
  }
}

}  // namespace gif
