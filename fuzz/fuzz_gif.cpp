// libFuzzer target for the GIF reader: any bytes are loaded into an image;
// whatever loads is written back with both codings and read again.
#include <cstddef>
#include <cstdint>

#include "framework/streams.h"
#include "gif/gif_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fw::TMemoryStream in;
  if (size > 0) in.WriteBuffer(data, static_cast<std::int64_t>(size));
  in.SetPosition(0);
  gif::TGIFImage image;
  // Large frames cost time, not coverage.
  image.SetMaxFramePixels(std::int64_t{1} << 20);
  image.SetMaxTotalPixels(std::int64_t{1} << 24);
  int warnings = 0;
  image.OnWarning = [&warnings](const void*, int, const std::string&) { ++warnings; };
  try {
    image.LoadFromStream(in);
  } catch (const gif::GIFException&) {
  }
  // A copy, with its colour tables sorted by use, must stay writable too.
  gif::TGIFImage copy;
  copy.SetMaxFramePixels(std::int64_t{1} << 20);
  copy.SetMaxTotalPixels(std::int64_t{1} << 24);
  copy.Assign(image);
  copy.GlobalColorMap().Optimize();
  for (auto& frame : copy.Images()) frame->ColorMap().Optimize();
  fw::TMemoryStream copy_out;
  try {
    copy.SaveToStream(copy_out);
  } catch (const gif::GIFException&) {
  }
  for (auto compression : {gif::TGIFCompression::gcLZW, gif::TGIFCompression::gcRLE}) {
    image.SetCompression(compression);
    fw::TMemoryStream out;
    try {
      image.SaveToStream(out);
    } catch (const gif::GIFException&) {
      continue;  // no frames, or a pixel beyond its colour table
    }
    out.SetPosition(0);
    gif::TGIFImage again;
    again.SetMaxFramePixels(std::int64_t{1} << 20);
    again.SetMaxTotalPixels(std::int64_t{1} << 24);
    try {
      again.LoadFromStream(out);
    } catch (const gif::GIFException&) {
      __builtin_trap();  // what we write must read back
    }
  }
  return 0;
}
