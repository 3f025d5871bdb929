// Helpers of the GIF tests: our image loaded from and saved to bytes, the
// comparison of our model of a file with giflib's, a re-blocker of image
// data, and the samples: the corpus of real files and files built with
// giflib's encoder for what the corpus lacks.
#pragma once

#include <gtest/gtest.h>

#include "framework/streams.h"
#include "gif/gif_image.h"
#include "tests/gif/giflib_peer.h"

namespace giftest {

inline Bytes StreamBytes(fw::TMemoryStream& s) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(s.Bytes().data());
  return Bytes(p, p + s.Bytes().size());
}

// Our image loaded from bytes, with the warnings it reported.
struct Loaded {
  std::unique_ptr<gif::TGIFImage> image = std::make_unique<gif::TGIFImage>();
  std::vector<std::string> warnings;
  std::string error;  // GIFException message, empty when none
};

inline std::unique_ptr<Loaded> LoadOurs(const Bytes& data, std::int64_t max_frame_pixels = 0) {
  auto r = std::make_unique<Loaded>();
  if (max_frame_pixels > 0) r->image->SetMaxFramePixels(max_frame_pixels);
  r->image->OnWarning = [p = r.get()](const void*, int, const std::string& m) { p->warnings.push_back(m); };
  fw::TMemoryStream stream;
  if (!data.empty()) stream.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  stream.SetPosition(0);
  try {
    r->image->LoadFromStream(stream);
  } catch (const gif::GIFException& e) {
    r->error = e.Message().empty() ? "?" : e.Message();
  }
  return r;
}

inline Bytes SaveOurs(gif::TGIFImage& image, gif::TGIFCompression compression) {
  image.SetCompression(compression);
  fw::TMemoryStream out;
  image.SaveToStream(out);
  return StreamBytes(out);
}

// One extension block as giflib lists them: the function code on the first
// sub-block, CONTINUE_EXT_FUNC_CODE on the following ones.
struct ExtBlock {
  int function;
  Bytes bytes;
  bool operator==(const ExtBlock&) const = default;
};

inline void PrintTo(const ExtBlock& b, std::ostream* os) {
  *os << "{fn " << b.function << ", " << b.bytes.size() << " bytes}";
}

// Our extensions in giflib's block form.
inline std::vector<ExtBlock> OurBlocks(const gif::TGIFExtensionList& list) {
  std::vector<ExtBlock> blocks;
  auto lines = [&](int function, const std::vector<std::string>& text) {
    for (const auto& line : text)
      for (std::size_t pos = 0; pos < line.size(); pos += 255, function = CONTINUE_EXT_FUNC_CODE)
        blocks.push_back({function, Text(line.substr(pos, 255))});
  };
  auto le = [](std::uint32_t v, int n) {
    Bytes b;
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return b;
  };
  for (auto& ext : list) {
    if (auto* gce = dynamic_cast<gif::TGIFGraphicControlExtension*>(ext.get())) {
      Bytes b = {gce->Packed(), 0, 0, gce->TransparentColorIndex()};
      std::memcpy(b.data() + 1, le(gce->Delay(), 2).data(), 2);
      blocks.push_back({GRAPHICS_EXT_FUNC_CODE, b});
    } else if (auto* c = dynamic_cast<gif::TGIFCommentExtension*>(ext.get())) {
      lines(COMMENT_EXT_FUNC_CODE, c->Comment());
    } else if (auto* t = dynamic_cast<gif::TGIFTextExtension*>(ext.get())) {
      Bytes h;
      for (int v : {t->GridLeft(), t->GridTop(), t->GridWidth(), t->GridHeight()}) {
        const Bytes two = le(static_cast<std::uint32_t>(v), 2);
        h.insert(h.end(), two.begin(), two.end());
      }
      h.insert(h.end(), {t->CellWidth(), t->CellHeight(), t->ForegroundColorIndex(), t->BackgroundColorIndex()});
      blocks.push_back({PLAINTEXT_EXT_FUNC_CODE, h});
      lines(CONTINUE_EXT_FUNC_CODE, t->Text());
    } else if (auto* loop = dynamic_cast<gif::TGIFAppExtNSLoop*>(ext.get())) {
      blocks.push_back({APPLICATION_EXT_FUNC_CODE, Bytes(loop->Identifier().begin(), loop->Identifier().end())});
      Bytes b = le(static_cast<std::uint32_t>(loop->Loops()), 2);
      b.insert(b.begin(), 1);
      blocks.push_back({CONTINUE_EXT_FUNC_CODE, b});
      if (loop->BufferSize() != 0) {
        b = le(loop->BufferSize(), 4);
        b.insert(b.begin(), 2);
        blocks.push_back({CONTINUE_EXT_FUNC_CODE, b});
      }
    } else if (auto* app = dynamic_cast<gif::TGIFApplicationExtension*>(ext.get())) {
      blocks.push_back({APPLICATION_EXT_FUNC_CODE, Bytes(app->Identifier().begin(), app->Identifier().end())});
      for (const auto& b : app->Blocks()) blocks.push_back({CONTINUE_EXT_FUNC_CODE, b.Data()});
    }
  }
  return blocks;
}

inline std::vector<ExtBlock> GiflibBlocks(const ExtensionBlock* blocks, int count) {
  std::vector<ExtBlock> out;
  for (int i = 0; i < count; ++i)
    out.push_back({blocks[i].Function, Bytes(blocks[i].Bytes, blocks[i].Bytes + blocks[i].ByteCount)});
  return out;
}

// Our table as a file holds it: padded with black to a power of two.
inline std::vector<gif::TGIFColor> PaddedColors(const gif::TGIFColorMap& map) {
  std::vector<gif::TGIFColor> c(map.Data(), map.Data() + map.Count());
  if (!c.empty()) c.resize(std::size_t{1} << gif::BitsNeeded(map.Count()), gif::TGIFColor{0, 0, 0});
  return c;
}

inline std::vector<gif::TGIFColor> GiflibColors(const ColorMapObject* map) {
  std::vector<gif::TGIFColor> out;
  for (int i = 0; map && i < map->ColorCount; ++i)
    out.push_back({map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
  return out;
}

// Checks that our model of a file matches giflib's: screen, global table,
// every frame's place, size, interlace flag, local table, extensions and
// pixel indexes, and the extensions behind the last image.
inline void ExpectSameAsGiflib(gif::TGIFImage& ours, const GifFileType* theirs, const std::string& what) {
  SCOPED_TRACE(what);
  ASSERT_NE(theirs, nullptr);
  EXPECT_EQ(ours.Width(), theirs->SWidth);
  EXPECT_EQ(ours.Height(), theirs->SHeight);
  EXPECT_EQ(ours.Header().BackgroundColorIndex(), theirs->SBackGroundColor);
  EXPECT_EQ(PaddedColors(ours.GlobalColorMap()), GiflibColors(theirs->SColorMap));
  // Frames with an image, and a last frame holding only extensions.
  std::vector<gif::TGIFSubImage*> frames;
  gif::TGIFSubImage* tail = nullptr;
  for (int i = 0; i < ours.Images().Count(); ++i) {
    gif::TGIFSubImage* f = ours.Images()[i];
    if (!f->Empty()) frames.push_back(f);
    else if (i == ours.Images().Count() - 1) tail = f;
    else ADD_FAILURE() << "frame " << i << " without image inside the file";
  }
  ASSERT_EQ(static_cast<int>(frames.size()), theirs->ImageCount);
  for (int i = 0; i < theirs->ImageCount; ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    const SavedImage& s = theirs->SavedImages[i];
    gif::TGIFSubImage& f = *frames[static_cast<std::size_t>(i)];
    EXPECT_EQ(f.Left(), s.ImageDesc.Left);
    EXPECT_EQ(f.Top(), s.ImageDesc.Top);
    ASSERT_EQ(f.Width(), s.ImageDesc.Width);
    ASSERT_EQ(f.Height(), s.ImageDesc.Height);
    EXPECT_EQ(f.Interlaced(), static_cast<bool>(s.ImageDesc.Interlace));
    EXPECT_EQ(PaddedColors(f.ColorMap()), GiflibColors(s.ImageDesc.ColorMap));
    EXPECT_EQ(OurBlocks(f.Extensions()), GiflibBlocks(s.ExtensionBlocks, s.ExtensionBlockCount));
    ASSERT_EQ(f.DataSize(), static_cast<std::size_t>(s.ImageDesc.Width) * static_cast<std::size_t>(s.ImageDesc.Height));
    EXPECT_EQ(0, std::memcmp(f.Data(), s.RasterBits, f.DataSize())) << "pixels differ";
  }
  EXPECT_EQ(tail ? OurBlocks(tail->Extensions()) : std::vector<ExtBlock>{},
            GiflibBlocks(theirs->ExtensionBlocks, theirs->ExtensionBlockCount));
}

// Splits every image's data chain into sub-blocks whose sizes come from
// next_size() (1..255); everything else is copied as it is. The input must
// be a well-formed file.
template <class NextSize>
Bytes Reblock(const Bytes& in, NextSize next_size) {
  Bytes out;
  std::size_t i = 0;
  auto copy = [&](std::size_t n) {
    out.insert(out.end(), in.begin() + static_cast<long>(i), in.begin() + static_cast<long>(i + n));
    i += n;
  };
  copy(13);
  if (in[10] & 0x80) copy(3u * (2u << (in[10] & 7)));
  while (i < in.size()) {
    if (in[i] == 0x21) {  // extension: label, then its chain as it is
      copy(2);
      for (std::size_t n; (n = in.at(i)) != 0;) copy(1 + n);
      copy(1);
    } else if (in[i] == 0x2C) {
      const std::uint8_t packed = in.at(i + 9);
      copy(10);
      if (packed & 0x80) copy(3u * (2u << (packed & 7)));
      copy(1);  // code size
      Bytes data;
      for (std::size_t n; (n = in.at(i++)) != 0; i += n)
        data.insert(data.end(), in.begin() + static_cast<long>(i), in.begin() + static_cast<long>(i + n));
      for (std::size_t pos = 0, n; pos < data.size(); pos += n) {
        n = std::min<std::size_t>(static_cast<std::size_t>(next_size()), data.size() - pos);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + n));
      }
      out.push_back(0);
    } else {
      copy(in.size() - i);
    }
  }
  return out;
}

struct Sample {
  std::string name;
  Bytes data;
};

// Files for what the corpus lacks, written by giflib's encoder.
inline std::vector<Sample> BuiltSamples() {
  std::vector<Sample> out;
  auto add = [&](const std::string& name, int w, int h, std::vector<gif::TGIFColor> global,
                 std::vector<GenFrame> frames, std::vector<GenExtension> trailing = {}, bool v89 = true) {
    out.push_back({name, BuildWithGiflib({w, h, 0, std::move(global), v89, std::move(frames), std::move(trailing)})});
  };
  add("built-87a-two-colours", 7, 5, Palette(2, 1), {Frame(0, 0, 7, 5, 2, 2, true)}, {}, false);
  {  // local tables of 4, 16 and 256 entries at offsets
    GenFrame a = Frame(3, 4, 20, 10, 4, 4), b = Frame(10, 11, 33, 21, 16, 6, true),
             c = Frame(0, 0, 64, 48, 256, 8, true);
    a.local = Palette(4, 5), b.local = Palette(16, 7), c.local = Palette(256, 9);
    b.interlace = true;
    add("built-local-tables", 64, 48, Palette(2, 3), {a, b, c});
  }
  GenFrame no_global = Frame(0, 0, 16, 16, 8, 10);
  no_global.local = Palette(8, 11);
  add("built-no-global", 16, 16, {}, {no_global});
  {  // plain text, comments (one line over 255 bytes), trailing comment
    GenFrame a = Frame(0, 0, 40, 20, 32, 13);
    a.extensions = {{0x01, {{0, 0, 0, 0, 40, 0, 20, 0, 8, 10, 1, 0}, Text("Hello"), Text("world")}},
                    {0xFE, {Bytes(255, 'a'), Text("tail of a long line")}}};
    add("built-text-comment", 40, 20, Palette(32, 12), {a}, {{0xFE, {Text("after the last image")}}});
  }
  {  // loop counts and an unknown application block
    GenFrame a = Frame(0, 0, 10, 10, 4, 15), b = Frame(2, 2, 5, 5, 4, 16);
    a.extensions = {App("NETSCAPE2.0", {{1, 5, 0}}),
                    App("XMP DataXMP", {Text("<x:xmpmeta>"), Bytes(200, 7), Text("end")}), Gce(1, false, 0, 25)};
    b.extensions = {App("ANIMEXTS1.0", {{1, 0x34, 0x12}, {2, 0, 0x10, 0, 0}})};
    add("built-applications", 10, 10, Palette(4, 14), {a, b});
  }
  {  // disposal 0 to 3, transparency, user input, delays
    std::vector<GenFrame> frames;
    for (int d = 0; d < 4; ++d) {
      frames.push_back(Frame(d * 3, d * 2, 20, 20, 16, 18 + static_cast<std::uint32_t>(d)));
      frames.back().extensions = {Gce(d, d % 2 == 1, d * 4, d * 100 + 3, d == 2)};
    }
    frames[0].extensions.insert(frames[0].extensions.begin(), App("NETSCAPE2.0", {{1, 0, 0}}));
    add("built-disposal", 30, 30, Palette(16, 17), frames);
  }
  {  // interlaced frames of many heights
    std::vector<GenFrame> frames;
    for (int h : {1, 2, 3, 4, 5, 8, 9, 17, 33, 40}) {
      frames.push_back(Frame(0, 0, 23, h, 64, 21 + static_cast<std::uint32_t>(h), h % 2 == 0));
      frames.back().interlace = true;
    }
    add("built-interlaced", 23, 40, Palette(64, 20), frames);
  }
  // 256-colour noise: full string tables and clear codes.
  add("built-noise-256", 200, 150, Palette(256, 22), {Frame(0, 0, 200, 150, 256, 23, true)});
  GenFrame one = Frame(0, 0, 300, 300, 1, 0);  // one colour throughout: very long strings
  std::fill(one.pixels.begin(), one.pixels.end(), 1);
  add("built-one-colour", 300, 300, Palette(2, 24), {one});
  return out;
}

inline std::vector<Sample> AllSamples() {
  std::vector<Sample> all;
  for (const auto& name : CorpusFiles()) all.push_back({name, ReadFileBytes(CorpusDir() + "/" + name)});
  for (auto& s : BuiltSamples()) all.push_back(std::move(s));
  return all;
}

}  // namespace giftest
