// The reader on hand-made and damaged files: the pixels, warnings and
// errors it reports. Random damage is the fuzz target's (fuzz_gif, seeded
// with the corpus and the built samples).
#include <gtest/gtest.h>

#include "tests/common/error_text.h"
#include "tests/gif/gif_test_support.h"

namespace giftest {
namespace {

// Packs codes least significant bit first; each entry is (code, bits).
Bytes PackCodes(const std::vector<std::pair<int, int>>& codes) {
  Bytes out;
  std::uint32_t acc = 0;
  int n = 0;
  for (auto [code, bits] : codes)
    for (acc |= static_cast<std::uint32_t>(code) << n, n += bits; n >= 8; acc >>= 8, n -= 8)
      out.push_back(static_cast<std::uint8_t>(acc));
  if (n > 0) out.push_back(static_cast<std::uint8_t>(acc));
  return out;
}

// data as a chain of sub-blocks of size bytes, with its terminator.
Bytes Blocks(const Bytes& data, std::size_t size = 255) {
  Bytes out;
  for (std::size_t pos = 0; pos < data.size(); pos += size) {
    const std::size_t n = std::min(size, data.size() - pos);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + n));
  }
  out.push_back(0);
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (auto& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

Bytes Le16(int v) { return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}; }

// Header of a w x h screen with a 4-colour global table.
Bytes Screen(int w, int h) {
  return Cat({Text("GIF89a"), Le16(w), Le16(h), {0x81, 0, 0, 0, 0, 0, 60, 0, 0, 120, 0, 0, 180, 0, 0}});
}

Bytes Descriptor(int l, int t, int w, int h, std::uint8_t packed = 0) {
  return Cat({{0x2C}, Le16(l), Le16(t), Le16(w), Le16(h), {packed}});
}

// Gives each code the width a decoder expects: S + 1 bits after a clear,
// one more whenever the next free code reaches 2^bits (the first code after
// a clear adds no entry).
std::vector<std::pair<int, int>> Widths(int S, const std::vector<int>& codes) {
  const int clear = 1 << S;
  int bits = S + 1, next_free = clear + 2;
  bool first = true;
  std::vector<std::pair<int, int>> out;
  for (int code : codes) {
    out.push_back({code, bits});
    if (code == clear) {
      bits = S + 1;
      next_free = clear + 2;
      first = true;
    } else if (code != clear + 1) {
      if (!first && next_free < 4096) ++next_free;
      first = false;
      if (next_free >= (1 << bits) && bits < 12) ++bits;
    }
  }
  return out;
}

// A frame of w x h with code size 2 and the given codes.
Bytes Frame3(int w, int h, const std::vector<int>& codes, std::uint8_t packed = 0) {
  return Cat({Descriptor(0, 0, w, h, packed), {2}, Blocks(PackCodes(Widths(2, codes)))});
}

Bytes Pix(const gif::TGIFSubImage& f) { return Bytes(f.Data(), f.Data() + f.DataSize()); }

TEST(GifReader, SignatureMayFollowFourBytes) {
  const Bytes good = ReadFileBytes(CorpusDir() + "/cscope-up.gif");
  for (int junk = 0; junk <= 5; ++junk) {
    auto l = LoadOurs(Cat({Bytes(static_cast<std::size_t>(junk), 'x'), good}));
    if (junk == 0 || junk == 4) {
      EXPECT_EQ(l->error, "") << junk;
      EXPECT_EQ(l->image->Images().Count(), 1) << junk;
    } else {
      EXPECT_EQ(l->error, "Invalid GIF signature") << junk;
    }
  }
}

TEST(GifReader, FrameBlocks) {
  struct Case {
    const char* name;
    Bytes body;  // after Screen(4, 2)
    std::vector<Bytes> pixels;
    std::vector<std::string> warnings;
    std::string error;
  };
  const Bytes f1 = Frame3(4, 2, {4, 1, 1, 1, 1, 1, 1, 1, 1, 5});
  const Bytes f2 = Frame3(4, 2, {4, 2, 2, 2, 2, 2, 2, 2, 2, 5});
  const Bytes ones(8, 1), twos(8, 2);
  auto cat = Cat;
  std::vector<Case> cases = {
      {"two frames", cat({f1, f2, {0x3B}}), {ones, twos}, {}, ""},
      {"zero bytes between frames", cat({f1, {0, 0, 0}, f2, {0x3B}}), {ones, twos}, {}, ""},
      // The first frame's data holds an end code after 8 pixels, then more
      // sub-blocks; they are skipped and the next frame still loads.
      {"data after the end code",
       cat({Descriptor(0, 0, 4, 2), {2, 5, 0x4C, 0x12, 0x11, 0x11, 0x05, 2, 0xAA, 0xBB, 1, 0xCC, 0}, f2, {0x3B}}),
       {ones, twos}, {}, ""},
      {"early end code", cat({Frame3(4, 2, {4, 1, 1, 5, 3, 3}), f2, {0x3B}}),
       {Bytes{1, 1, 0, 0, 0, 0, 0, 0}, twos}, {}, ""},
      // An end code right behind the clear code ends the data.
      {"clear then end", cat({Frame3(4, 2, {4, 5}), f2, {0x3B}}), {Bytes(8, 0), twos}, {}, ""},
      {"no clear code first", cat({Frame3(4, 2, {1, 1, 1, 1, 1, 1, 1, 1, 5}), {0x3B}}), {ones}, {}, ""},
      {"no trailer", cat({f1}), {ones}, {"Invalid Image trailer"}, ""},
      {"stray byte", cat({f1, {0x99}}), {ones}, {"Unknown GIF block type", "Invalid Image trailer"}, ""},
      {"width 0 takes the screen", cat({Frame3(0, 2, {4, 1, 1, 1, 1, 1, 1, 1, 1, 5}), {0x3B}}), {ones},
       {"Image exceeds Logical Screen size"}, ""},
      {"frame past the screen", cat({Descriptor(2, 0, 4, 2), {2}, Blocks(PackCodes({{4, 3}, {5, 3}})), {0x3B}}),
       {Bytes(8, 0)}, {"Image exceeds Logical Screen size"}, ""},
      {"data ends before the pixels", cat({Frame3(4, 2, {4, 1, 1}), {0x3B}}), {Bytes{1, 1, 0, 0, 0, 0, 0, 0}},
       {"Decoder bit buffer under-run"}, ""},
      {"code beyond the table", cat({Frame3(4, 2, {4, 1, 7, 1}), {0x3B}}), {Bytes{1, 0, 0, 0, 0, 0, 0, 0}}, {},
       "Invalid GIF data"},
      {"string code right after clear", cat({Frame3(4, 2, {4, 6, 1}), {0x3B}}), {Bytes(8, 0)}, {},
       "Invalid GIF data"},
      {"code size 12", cat({Descriptor(0, 0, 4, 2), {12, 1, 0xFF, 0}, f2, {0x3B}}), {Bytes(8, 0)}, {},
       "Invalid GIF data"},
      {"stream ends in the data", cat({Descriptor(0, 0, 4, 2), {2, 5, 0x0C}}), {Bytes{1, 0, 0, 0, 0, 0, 0, 0}},
       {"Premature end of data", "Decoder bit buffer under-run", "Invalid Image trailer"}, ""},
      {"stream ends in the descriptor", cat({f1, {0x2C, 0, 0}}), {ones}, {}, "Premature end of data"},
      {"unknown extension label", cat({f1, {0x21, 0x99, 0}}), {ones}, {}, "Unknown extension type"},
      {"application block of 3", cat({f1, {0x21, 0xFF, 3, 'a', 'b', 'c', 0}}), {ones}, {},
       "Unsupported Application Extension block size"},
      {"loop block of 2", cat({{0x21, 0xFF, 11}, Text("NETSCAPE2.0"), {2, 1, 0, 0}, f1}), {}, {},
       "Invalid GIF data"},
      {"huge frame", cat({Descriptor(0, 0, 0xFFFF, 0xFFFF), {2, 0}, {0x3B}}), {}, {"Image exceeds Logical Screen size"},
       "Image dimensions too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto l = LoadOurs(Cat({Screen(4, 2), c.body}));
    EXPECT_EQ(l->error, c.error);
    EXPECT_EQ(l->warnings, c.warnings);
    std::vector<Bytes> pixels;
    for (auto& f : l->image->Images())
      if (!f->Empty()) pixels.push_back(Pix(*f));
    EXPECT_EQ(pixels, c.pixels);
  }
}

TEST(GifReader, AllFramesTogetherAreLimited) {
  const Bytes frame = Frame3(4, 2, {4, 1, 1, 1, 1, 1, 1, 1, 1, 5});
  const Bytes file = Cat({Screen(4, 2), frame, frame, frame, {0x3B}});
  gif::TGIFImage image;
  image.SetMaxTotalPixels(20);
  fw::TMemoryStream stream;
  stream.WriteBuffer(file.data(), static_cast<std::int64_t>(file.size()));
  stream.SetPosition(0);
  EXPECT_EQ(testsupport::ErrorText<gif::GIFException>([&] { image.LoadFromStream(stream); }),
            "Image dimensions too large");
}

TEST(GifReader, MissingPixelsKeepTheTransparentIndex) {
  auto l = LoadOurs(Cat({Screen(4, 2), {0x21, 0xF9, 4, 0x01, 0, 0, 3, 0}, Frame3(4, 2, {4, 1, 1, 5}), {0x3B}}));
  ASSERT_EQ(l->image->Images().Count(), 1);
  EXPECT_TRUE(l->image->Images()[0]->Transparent());
  EXPECT_EQ(Pix(*l->image->Images()[0]), (Bytes{1, 1, 3, 3, 3, 3, 3, 3}));
}

TEST(GifReader, InterlacedRowOrder) {
  // Rows are sent 0, 2, 1 for a height of 3; each row carries its number.
  auto l = LoadOurs(Cat({Screen(2, 3), Frame3(2, 3, {4, 0, 0, 2, 2, 1, 1, 5}, 0x40), {0x3B}}));
  EXPECT_EQ(Pix(*l->image->Images()[0]), (Bytes{0, 0, 1, 1, 2, 2}));
}

TEST(GifReader, CodeSizeGrowsToTwelveBitsAndStops) {
  // Code size 8: 4096 - 258 codes fill the table, growing at 512, 1024 and
  // 2048; then 12-bit codes go on without a clear code.
  std::vector<std::pair<int, int>> codes = {{256, 9}};
  Bytes expected;
  int bits = 9, next_free = 258;
  int count = 0;
  while (expected.size() < 20000) {
    const int v = (count * 7) % 256;
    codes.push_back({v, bits});
    expected.push_back(static_cast<std::uint8_t>(v));
    if (count > 0 && next_free < 4096) ++next_free;
    if (next_free >= (1 << bits) && bits < 12) ++bits;
    ++count;
  }
  codes.push_back({257, bits});
  EXPECT_EQ(bits, 12);
  Bytes file = Screen(100, 200);
  file[10] = 0x87;  // 256 colours
  file.resize(13);
  file = Cat({file, Bytes(768, 0), Descriptor(0, 0, 100, 200), {8}, Blocks(PackCodes(codes), 100), {0x3B}});
  auto l = LoadOurs(file);
  EXPECT_EQ(l->error, "");
  EXPECT_TRUE(l->warnings.empty());
  EXPECT_EQ(Pix(*l->image->Images()[0]), expected);
  auto theirs = LoadGiflib(file);
  ASSERT_NE(theirs->file, nullptr);
  ExpectSameAsGiflib(*l->image, theirs->file, "12 bits");
}

TEST(GifReader, Extensions) {
  // A graphic control block of 5 data bytes: its fields are taken from the
  // first four and the block is left at its terminator; a loop block with a
  // buffer size first, then loops 7; an application block of 12 bytes.
  auto l = LoadOurs(Cat({Screen(4, 2), {0x21, 0xF9, 5, 0x09, 0x10, 0x00, 2, 0xEE, 0}, {0x21, 0xFF, 11},
                         Text("NETSCAPE2.0"), {5, 2, 0x00, 0x01, 0, 0, 3, 1, 7, 0, 0}, {0x21, 0xFF, 12},
                         Text("ODDSIZEAPP1X"), {2, 9, 9, 0}, Frame3(4, 2, {4, 1, 1, 1, 1, 1, 1, 1, 1, 5}), {0x3B}}));
  ASSERT_EQ(l->error, "");
  EXPECT_TRUE(l->warnings.empty());
  ASSERT_EQ(l->image->Images().Count(), 1);
  gif::TGIFSubImage& f = *l->image->Images()[0];
  ASSERT_EQ(f.Extensions().Count(), 3);
  auto* gce = f.GraphicControlExtension();
  ASSERT_NE(gce, nullptr);
  EXPECT_EQ(gce->Disposal(), 2);
  EXPECT_TRUE(gce->Transparent());
  EXPECT_EQ(gce->Delay(), 16);
  EXPECT_EQ(gce->TransparentColorIndex(), 2);
  auto* loop = dynamic_cast<gif::TGIFAppExtNSLoop*>(f.Extensions()[1]);
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(loop->Loops(), 7);
  EXPECT_EQ(loop->BufferSize(), 256u);
  auto* app = dynamic_cast<gif::TGIFApplicationExtension*>(f.Extensions()[2]);
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(dynamic_cast<gif::TGIFUnknownAppExtension*>(app), nullptr);
  ASSERT_EQ(app->Blocks().size(), 1u);
  EXPECT_EQ(app->Blocks()[0].Data(), (Bytes{9, 9}));
  EXPECT_EQ(Pix(f), Bytes(8, 1));
}

// An identifier block of 12 bytes that starts like the loop extension's is
// kept whole; written back with 11 it would read as a loop extension whose
// data it does not hold.
TEST(GifReader, LongApplicationIdentifierIsKept) {
  const Bytes file = Cat({Screen(4, 2), {0x21, 0xFF, 12}, Text("NETSCAPE2.0!"), {2, 1, 9, 0},
                          Frame3(4, 2, {4, 1, 1, 1, 1, 1, 1, 1, 1, 5}), {0x3B}});
  auto l = LoadOurs(file);
  ASSERT_EQ(l->error, "");
  const Bytes out = SaveOurs(*l->image, gif::TGIFCompression::gcLZW);
  auto again = LoadOurs(out);
  EXPECT_EQ(again->error, "");
  EXPECT_EQ(SaveOurs(*again->image, gif::TGIFCompression::gcLZW), out);
  EXPECT_NE(std::search(out.begin(), out.end(), file.begin() + 25, file.begin() + 45), out.end());
}

TEST(GifReader, OptimizeSortsByUse) {
  gif::TGIFImage image;
  image.Header().SetWidth(4);
  image.Header().SetHeight(2);
  for (int i = 0; i < 4; ++i) image.GlobalColorMap().Add(static_cast<gif::TColorValue>(0x10 * (i + 1)));
  auto frame = std::make_unique<gif::TGIFSubImage>(&image);
  frame->SetSize(4, 2, 0);
  const Bytes px = {2, 2, 2, 1, 1, 3, 3, 3};  // 2 and 3 three times, 1 twice, 0 never
  std::copy(px.begin(), px.end(), frame->Data());
  auto* gce = new gif::TGIFGraphicControlExtension(frame.get());
  frame->Extensions().Add(std::unique_ptr<gif::TGIFExtension>(gce));
  gce->SetTransparent(true);
  gce->SetTransparentColorIndex(1);
  gif::TGIFSubImage* f = frame.get();
  image.Add(std::move(frame));
  image.GlobalColorMap().Optimize();
  const gif::TGIFColorMap& map = image.GlobalColorMap();
  ASSERT_EQ(map.Count(), 3);  // the unused colour is cut off
  EXPECT_TRUE(map.Sorted());
  // Each pixel keeps its colour.
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(gif::ColorValue(map.Colors(f->Data()[i])), static_cast<gif::TColorValue>(0x10 * (px[i] + 1)));
  EXPECT_EQ(gif::ColorValue(map.Colors(gce->TransparentColorIndex())), 0x20u);
  EXPECT_EQ(gif::ColorValue(map.Colors(2)), 0x20u);  // least used last
}

// Every prefix of a file ends in an error or a warning, never a silent
// success.
TEST(GifReader, TruncatedFiles) {
  const Bytes full = ReadFileBytes(CorpusDir() + "/qt-spinner.gif");
  for (std::size_t n = 0; n < full.size(); ++n) {
    auto l = LoadOurs(Bytes(full.begin(), full.begin() + static_cast<long>(n)));
    EXPECT_TRUE(!l->error.empty() || !l->warnings.empty()) << "cut at " << n;
  }
}

}  // namespace
}  // namespace giftest
