// Helpers of the GIF tests: giflib as a peer decoder and encoder over
// memory, our image loaded from bytes, the corpus, a re-blocker of image
// data and a comparison of our model against giflib's.
#pragma once

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "framework/streams.h"
#include "gif/gif_image.h"

namespace giftest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string CorpusDir() { return std::string(TOLMID_TEST_DATA) + "/gif"; }

inline std::vector<std::string> CorpusFiles() {
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(CorpusDir()))
    if (e.path().extension() == ".gif") names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

inline std::unique_ptr<fw::TMemoryStream> MemoryStream(const Bytes& data) {
  auto s = std::make_unique<fw::TMemoryStream>();
  if (!data.empty()) s->WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  s->SetPosition(0);
  return s;
}

inline Bytes StreamBytes(fw::TMemoryStream& s) {
  const auto& b = s.Bytes();
  return Bytes(reinterpret_cast<const std::uint8_t*>(b.data()),
               reinterpret_cast<const std::uint8_t*>(b.data()) + b.size());
}

// Our image loaded from bytes, with the warnings it reported.
struct Loaded {
  std::unique_ptr<gif::TGIFImage> image = std::make_unique<gif::TGIFImage>();
  std::vector<std::string> warnings;
  std::string error;  // GIFException message, empty when none
};

inline std::unique_ptr<Loaded> LoadOurs(const Bytes& data, std::int64_t max_frame_pixels = 0) {
  auto result = std::make_unique<Loaded>();
  Loaded* r = result.get();
  if (max_frame_pixels > 0) r->image->SetMaxFramePixels(max_frame_pixels);
  r->image->OnWarning = [r](const void*, int, const std::string& m) { r->warnings.push_back(m); };
  auto stream = MemoryStream(data);
  try {
    r->image->LoadFromStream(*stream);
  } catch (const gif::GIFException& e) {
    r->error = e.Message();
    if (r->error.empty()) r->error = "?";
  }
  return result;
}

inline Bytes SaveOurs(gif::TGIFImage& image, gif::TGIFCompression compression) {
  image.SetCompression(compression);
  fw::TMemoryStream out;
  image.SaveToStream(out);
  return StreamBytes(out);
}

// --- giflib -------------------------------------------------------------------

struct MemoryInput {
  const Bytes* data;
  std::size_t pos;
};

inline int ReadMemory(GifFileType* gif, GifByteType* buf, int len) {
  auto* in = static_cast<MemoryInput*>(gif->UserData);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(len), in->data->size() - in->pos);
  if (n) std::memcpy(buf, in->data->data() + in->pos, n);
  in->pos += n;
  return static_cast<int>(n);
}

// A file slurped by giflib; file is null when giflib failed.
struct GiflibImage {
  MemoryInput input{};
  GifFileType* file = nullptr;
  int error = 0;
  GiflibImage() = default;
  GiflibImage(const GiflibImage&) = delete;
  GiflibImage& operator=(const GiflibImage&) = delete;
  ~GiflibImage() {
    if (file) DGifCloseFile(file, &error);
  }
};

inline std::unique_ptr<GiflibImage> LoadGiflib(const Bytes& data) {
  auto g = std::make_unique<GiflibImage>();
  g->input = {&data, 0};
  g->file = DGifOpen(&g->input, ReadMemory, &g->error);
  if (g->file && DGifSlurp(g->file) != GIF_OK) {
    DGifCloseFile(g->file, &g->error);
    g->file = nullptr;
  }
  return g;
}

inline int WriteMemory(GifFileType* gif, const GifByteType* buf, int len) {
  auto* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), buf, buf + len);
  return len;
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

// An extension written by the giflib encoder: its sub-blocks.
struct GenExtension {
  int label;
  std::vector<Bytes> blocks;
};

struct GenFrame {
  int left = 0, top = 0, width = 1, height = 1;
  bool interlace = false;
  std::vector<gif::TGIFColor> local;  // empty: none
  Bytes pixels;                       // width * height, display order
  std::vector<GenExtension> extensions;
};

struct GenGif {
  int width = 1, height = 1, background = 0;
  std::vector<gif::TGIFColor> global;  // empty: none
  bool version89 = true;
  std::vector<GenFrame> frames;
  std::vector<GenExtension> trailing;
};

inline ColorMapObject* MakeMap(const std::vector<gif::TGIFColor>& colors) {
  if (colors.empty()) return nullptr;
  std::vector<GifColorType> c(colors.size());
  for (std::size_t i = 0; i < colors.size(); ++i) c[i] = {colors[i].Red, colors[i].Green, colors[i].Blue};
  return GifMakeMapObject(static_cast<int>(colors.size()), c.data());
}

inline void PutExtensions(GifFileType* g, const std::vector<GenExtension>& exts) {
  for (const auto& e : exts) {
    EGifPutExtensionLeader(g, e.label);
    for (const auto& b : e.blocks) EGifPutExtensionBlock(g, static_cast<int>(b.size()), b.data());
    EGifPutExtensionTrailer(g);
  }
}

// Writes the description with giflib's encoder. Colour table sizes must be
// powers of two (giflib's rule).
inline Bytes BuildWithGiflib(const GenGif& gif) {
  Bytes out;
  int err = 0;
  GifFileType* g = EGifOpen(&out, WriteMemory, &err);
  if (!g) return out;
  EGifSetGifVersion(g, gif.version89);
  ColorMapObject* global = MakeMap(gif.global);
  EGifPutScreenDesc(g, gif.width, gif.height, 8, gif.background, global);
  for (const GenFrame& f : gif.frames) {
    PutExtensions(g, f.extensions);
    ColorMapObject* local = MakeMap(f.local);
    EGifPutImageDesc(g, f.left, f.top, f.width, f.height, f.interlace, local);
    Bytes row(static_cast<std::size_t>(f.width));
    auto put = [&](int y) {
      std::memcpy(row.data(), f.pixels.data() + static_cast<std::size_t>(y) * f.width, row.size());
      EGifPutLine(g, row.data(), f.width);
    };
    if (f.interlace) {
      const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int p = 0; p < 4; ++p)
        for (int y = start[p]; y < f.height; y += step[p]) put(y);
    } else {
      for (int y = 0; y < f.height; ++y) put(y);
    }
    if (local) GifFreeMapObject(local);
  }
  PutExtensions(g, gif.trailing);
  if (global) GifFreeMapObject(global);
  EGifCloseFile(g, &err);
  return out;
}

// --- comparing ----------------------------------------------------------------

// Our extensions in giflib's block form.
inline std::vector<ExtBlock> OurBlocks(const gif::TGIFExtensionList& list) {
  std::vector<ExtBlock> blocks;
  auto lines = [&](int function, const std::vector<std::string>& text) {
    bool first = true;
    for (const auto& line : text) {
      for (std::size_t pos = 0; pos < line.size(); pos += 255) {
        const std::size_t n = std::min<std::size_t>(255, line.size() - pos);
        blocks.push_back({first ? function : CONTINUE_EXT_FUNC_CODE,
                          Bytes(line.begin() + static_cast<long>(pos), line.begin() + static_cast<long>(pos + n))});
        first = false;
      }
    }
  };
  for (auto& ext : list) {
    if (auto* gce = dynamic_cast<gif::TGIFGraphicControlExtension*>(ext.get())) {
      blocks.push_back({GRAPHICS_EXT_FUNC_CODE,
                        {gce->Packed(), static_cast<std::uint8_t>(gce->Delay()),
                         static_cast<std::uint8_t>(gce->Delay() >> 8), gce->TransparentColorIndex()}});
    } else if (auto* c = dynamic_cast<gif::TGIFCommentExtension*>(ext.get())) {
      lines(COMMENT_EXT_FUNC_CODE, c->Comment());
    } else if (auto* t = dynamic_cast<gif::TGIFTextExtension*>(ext.get())) {
      Bytes h(12);
      auto put16 = [&](int at, int v) {
        h[at] = static_cast<std::uint8_t>(v);
        h[at + 1] = static_cast<std::uint8_t>(v >> 8);
      };
      put16(0, t->GridLeft());
      put16(2, t->GridTop());
      put16(4, t->GridWidth());
      put16(6, t->GridHeight());
      h[8] = t->CellWidth();
      h[9] = t->CellHeight();
      h[10] = t->ForegroundColorIndex();
      h[11] = t->BackgroundColorIndex();
      blocks.push_back({PLAINTEXT_EXT_FUNC_CODE, h});
      for (const auto& line : t->Text())
        for (std::size_t pos = 0; pos < line.size(); pos += 255) {
          const std::size_t n = std::min<std::size_t>(255, line.size() - pos);
          blocks.push_back({CONTINUE_EXT_FUNC_CODE, Bytes(line.begin() + static_cast<long>(pos),
                                                          line.begin() + static_cast<long>(pos + n))});
        }
    } else if (auto* loop = dynamic_cast<gif::TGIFAppExtNSLoop*>(ext.get())) {
      blocks.push_back({APPLICATION_EXT_FUNC_CODE, Bytes(loop->Identifier().begin(), loop->Identifier().end())});
      blocks.push_back({CONTINUE_EXT_FUNC_CODE,
                        {1, static_cast<std::uint8_t>(loop->Loops()), static_cast<std::uint8_t>(loop->Loops() >> 8)}});
      if (loop->BufferSize() != 0) {
        Bytes b = {2, 0, 0, 0, 0};
        for (int i = 0; i < 4; ++i) b[1 + i] = static_cast<std::uint8_t>(loop->BufferSize() >> (8 * i));
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

inline std::vector<gif::TGIFColor> OurColors(const gif::TGIFColorMap& map) {
  return std::vector<gif::TGIFColor>(map.Data(), map.Data() + map.Count());
}

// Our table as a file holds it: padded with black to a power of two.
inline std::vector<gif::TGIFColor> PaddedColors(const gif::TGIFColorMap& map) {
  std::vector<gif::TGIFColor> c = OurColors(map);
  if (!c.empty()) c.resize(std::size_t{1} << gif::BitsNeeded(map.Count()), gif::TGIFColor{0, 0, 0});
  return c;
}

inline std::vector<gif::TGIFColor> GiflibColors(const ColorMapObject* map) {
  std::vector<gif::TGIFColor> out;
  if (!map) return out;
  for (int i = 0; i < map->ColorCount; ++i)
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
    if (!f->Empty())
      frames.push_back(f);
    else if (i == ours.Images().Count() - 1)
      tail = f;
    else
      ADD_FAILURE() << "frame " << i << " without image inside the file";
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
    const std::size_t n = static_cast<std::size_t>(s.ImageDesc.Width) * static_cast<std::size_t>(s.ImageDesc.Height);
    ASSERT_EQ(f.DataSize(), n);
    EXPECT_EQ(0, std::memcmp(f.Data(), s.RasterBits, n)) << "pixels differ";
  }
  std::vector<ExtBlock> tail_blocks;
  if (tail) tail_blocks = OurBlocks(tail->Extensions());
  EXPECT_EQ(tail_blocks, GiflibBlocks(theirs->ExtensionBlocks, theirs->ExtensionBlockCount));
}

// --- re-blocking ----------------------------------------------------------------

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
  auto copy_chain = [&] {
    for (;;) {
      const std::size_t n = in.at(i);
      copy(1 + n);
      if (n == 0) return;
    }
  };
  copy(13);
  if (in[10] & 0x80) copy(3u * (2u << (in[10] & 7)));
  while (i < in.size()) {
    const std::uint8_t b = in[i];
    if (b == 0x21) {
      copy(2);
      copy_chain();
    } else if (b == 0x2C) {
      const std::uint8_t packed = in.at(i + 9);
      copy(10);
      if (packed & 0x80) copy(3u * (2u << (packed & 7)));
      copy(1);  // code size
      Bytes data;
      for (;;) {
        const std::size_t n = in.at(i++);
        if (n == 0) break;
        data.insert(data.end(), in.begin() + static_cast<long>(i), in.begin() + static_cast<long>(i + n));
        i += n;
      }
      for (std::size_t pos = 0; pos < data.size();) {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(next_size()), data.size() - pos);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + n));
        pos += n;
      }
      out.push_back(0);
    } else {
      copy(in.size() - i);
    }
  }
  return out;
}

}  // namespace giftest
