// The reader on hand-made and damaged files: the warnings and errors it
// reports, and that no input makes it read or write out of bounds (run
// this under the sanitizer build).
#include <gtest/gtest.h>

#include "gif_samples.h"

namespace giftest {
namespace {

// Packs codes least significant bit first; each entry is (code, bits).
Bytes PackCodes(const std::vector<std::pair<int, int>>& codes) {
  Bytes out;
  std::uint32_t acc = 0;
  int n = 0;
  for (auto [code, bits] : codes) {
    acc |= static_cast<std::uint32_t>(code) << n;
    n += bits;
    while (n >= 8) {
      out.push_back(static_cast<std::uint8_t>(acc));
      acc >>= 8;
      n -= 8;
    }
  }
  if (n > 0) out.push_back(static_cast<std::uint8_t>(acc));
  return out;
}

Bytes Blocks(const Bytes& data, std::size_t size = 255, bool terminate = true) {
  Bytes out;
  for (std::size_t pos = 0; pos < data.size(); pos += size) {
    const std::size_t n = std::min(size, data.size() - pos);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), data.begin() + static_cast<long>(pos), data.begin() + static_cast<long>(pos + n));
  }
  if (terminate) out.push_back(0);
  return out;
}

void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

// Header of a w x h screen with a 4-colour global table.
Bytes Screen(int w, int h) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a', static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8),
             static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8), 0x81, 0, 0};
  for (int i = 0; i < 4; ++i) Append(b, {static_cast<std::uint8_t>(i * 60), 0, 0});
  return b;
}

Bytes Descriptor(int l, int t, int w, int h, std::uint8_t packed = 0) {
  return {0x2C, static_cast<std::uint8_t>(l), static_cast<std::uint8_t>(l >> 8), static_cast<std::uint8_t>(t),
          static_cast<std::uint8_t>(t >> 8), static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8),
          static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8), packed};
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
  Bytes b = Descriptor(0, 0, w, h, packed);
  b.push_back(2);
  Append(b, Blocks(PackCodes(Widths(2, codes))));
  return b;
}

Bytes Pix(const gif::TGIFSubImage& f) { return Bytes(f.Data(), f.Data() + f.DataSize()); }

TEST(GifReader, SignatureMayFollowFourBytes) {
  const Bytes good = ReadFileBytes(CorpusDir() + "/cscope-up.gif");
  for (int junk = 0; junk <= 5; ++junk) {
    Bytes b(static_cast<std::size_t>(junk), 'x');
    Append(b, good);
    auto l = LoadOurs(b);
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
  auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes b;
    for (auto& p : parts) Append(b, p);
    return b;
  };
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
    Bytes file = Screen(4, 2);
    Append(file, c.body);
    auto l = LoadOurs(file);
    EXPECT_EQ(l->error, c.error);
    EXPECT_EQ(l->warnings, c.warnings);
    std::vector<Bytes> pixels;
    for (auto& f : l->image->Images())
      if (!f->Empty()) pixels.push_back(Pix(*f));
    EXPECT_EQ(pixels, c.pixels);
  }
}

TEST(GifReader, AllFramesTogetherAreLimited) {
  Bytes file = Screen(4, 2);
  for (int i = 0; i < 3; ++i) Append(file, Frame3(4, 2, {4, 1, 1, 1, 1, 1, 1, 1, 1, 5}));
  file.push_back(0x3B);
  gif::TGIFImage image;
  image.SetMaxTotalPixels(20);
  auto stream = MemoryStream(file);
  try {
    image.LoadFromStream(*stream);
    ADD_FAILURE();
  } catch (const gif::GIFException& e) {
    EXPECT_EQ(e.Message(), "Image dimensions too large");
  }
  EXPECT_EQ(image.TotalPixels(), 16);
  image.Images().Delete(0);
  EXPECT_EQ(image.TotalPixels(), 8);
  image.Clear();
  EXPECT_EQ(image.TotalPixels(), 0);
}

TEST(GifReader, MissingPixelsKeepTheTransparentIndex) {
  Bytes file = Screen(4, 2);
  Append(file, {0x21, 0xF9, 4, 0x01, 0, 0, 3, 0});  // transparent index 3
  Append(file, Frame3(4, 2, {4, 1, 1, 5}));
  file.push_back(0x3B);
  auto l = LoadOurs(file);
  ASSERT_EQ(l->image->Images().Count(), 1);
  EXPECT_TRUE(l->image->Images()[0]->Transparent());
  EXPECT_EQ(Pix(*l->image->Images()[0]), (Bytes{1, 1, 3, 3, 3, 3, 3, 3}));
}

TEST(GifReader, InterlacedRowOrder) {
  // Rows are sent 0, 2, 1 for a height of 3; each row carries its number.
  Bytes file = Screen(2, 3);
  Append(file, Frame3(2, 3, {4, 0, 0, 2, 2, 1, 1, 5}, 0x40));
  file.push_back(0x3B);
  auto l = LoadOurs(file);
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
  Append(file, Bytes(768, 0));
  Append(file, Descriptor(0, 0, 100, 200));
  file.push_back(8);
  Append(file, Blocks(PackCodes(codes), 100));
  file.push_back(0x3B);
  auto l = LoadOurs(file);
  EXPECT_EQ(l->error, "");
  EXPECT_TRUE(l->warnings.empty());
  EXPECT_EQ(Pix(*l->image->Images()[0]), expected);
  auto theirs = LoadGiflib(file);
  ASSERT_NE(theirs->file, nullptr);
  ExpectSameAsGiflib(*l->image, theirs->file, "12 bits");
}

TEST(GifReader, Extensions) {
  Bytes file = Screen(4, 2);
  // A graphic control block of 5 data bytes: its fields are taken from the
  // first four and the block is left at its terminator.
  Append(file, {0x21, 0xF9, 5, 0x09, 0x10, 0x00, 2, 0xEE, 0});
  Append(file, {0x21, 0xFF, 11});
  Append(file, Text("NETSCAPE2.0"));
  Append(file, {5, 2, 0x00, 0x01, 0, 0, 3, 1, 7, 0, 0});  // buffer size, then loops 7
  Append(file, {0x21, 0xFF, 12});
  Append(file, Text("ODDSIZEAPP1X"));
  Append(file, {2, 9, 9, 0});
  Append(file, Frame3(4, 2, {4, 1, 1, 1, 1, 1, 1, 1, 1, 5}));
  file.push_back(0x3B);
  auto l = LoadOurs(file);
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
  Bytes file = Screen(4, 2);
  Append(file, {0x21, 0xFF, 12});
  Append(file, Text("NETSCAPE2.0!"));
  Append(file, {2, 1, 9, 0});
  Append(file, Frame3(4, 2, {4, 1, 1, 1, 1, 1, 1, 1, 1, 5}));
  file.push_back(0x3B);
  auto l = LoadOurs(file);
  ASSERT_EQ(l->error, "");
  const Bytes out = SaveOurs(*l->image, gif::TGIFCompression::gcLZW);
  auto again = LoadOurs(out);
  EXPECT_EQ(again->error, "");
  EXPECT_EQ(SaveOurs(*again->image, gif::TGIFCompression::gcLZW), out);
  EXPECT_NE(std::search(out.begin(), out.end(), file.begin() + 25, file.begin() + 45), out.end());
}

TEST(GifReader, ColourTables) {
  gif::TGIFImage image;
  std::vector<std::string> warnings;
  image.OnWarning = [&](const void*, int, const std::string& m) { warnings.push_back(m); };
  gif::TGIFColorMap& map = image.GlobalColorMap();
  try {
    map.GetColor(0);
    ADD_FAILURE();
  } catch (const gif::GIFException& e) {
    EXPECT_EQ(e.Message(), "Color table is empty");
  }
  for (int i = 0; i < 256; ++i) EXPECT_EQ(map.Add(static_cast<gif::TColorValue>(i % 200)), i);
  try {
    map.Add(1);
    ADD_FAILURE();
  } catch (const gif::GIFException& e) {
    EXPECT_EQ(e.Message(), "Color table overflow");
  }
  EXPECT_EQ(map.IndexOf(5), 205);  // unsorted: searched from the end
  map.SetSorted(true);
  EXPECT_EQ(map.IndexOf(5), 5);
  EXPECT_EQ(map.IndexOf(0xABCDEF), -1);
  EXPECT_EQ(map.GetColor(300), 0u);
  EXPECT_EQ(warnings, std::vector<std::string>{"Invalid color index"});
  try {
    map.Delete(256);
    ADD_FAILURE();
  } catch (const gif::GIFException& e) {
    EXPECT_EQ(e.Message(), "Invalid color index");
  }
  map.Delete(0);
  EXPECT_EQ(map.Count(), 255);
  EXPECT_EQ(map.GetColor(0), 1u);
  const std::pair<int, int> bits[] = {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {129, 8}, {256, 8}};
  for (auto [count, n] : bits) EXPECT_EQ(gif::BitsNeeded(count), n) << count;
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

TEST(GifReader, TransparentIndexIsCheckedAgainstTheTable) {
  gif::TGIFImage image;
  std::vector<std::string> warnings;
  image.OnWarning = [&](const void*, int, const std::string& m) { warnings.push_back(m); };
  image.GlobalColorMap().Add(1);
  image.GlobalColorMap().Add(2);
  auto frame = std::make_unique<gif::TGIFSubImage>(&image);
  auto* gce = new gif::TGIFGraphicControlExtension(frame.get());
  frame->Extensions().Add(std::unique_ptr<gif::TGIFExtension>(gce));
  gce->SetTransparentColorIndex(2);
  EXPECT_EQ(gce->TransparentColorIndex(), 0);
  EXPECT_EQ(warnings, std::vector<std::string>{"Invalid color index"});
  gce->SetTransparent(true);
  EXPECT_TRUE(frame->Transparent());
  EXPECT_EQ(frame->GraphicControlExtension(), gce);
  frame->Extensions().Delete(0);
  EXPECT_FALSE(frame->Transparent());
  EXPECT_EQ(frame->GraphicControlExtension(), nullptr);
}

TEST(GifReader, ScreenCannotShrinkBelowItsFrames) {
  auto l = LoadOurs(ReadFileBytes(CorpusDir() + "/qt-spinner.gif"));
  const int w = l->image->Width();
  EXPECT_THROW(l->image->SetWidth(3), gif::GIFException);
  EXPECT_EQ(l->image->Width(), w);
  EXPECT_THROW(l->image->SetHeight(3), gif::GIFException);
  l->image->SetWidth(w + 10);
  EXPECT_EQ(l->image->Width(), w + 10);
}

// Every prefix of a file: an error or warnings, never a crash, and what was
// read stays in the image.
TEST(GifReader, TruncatedFiles) {
  for (const char* name : {"cscope-up.gif", "qt-spinner.gif", "tk-tai-ku.gif", "xslt-smallfootonly.gif"}) {
    const Bytes full = ReadFileBytes(CorpusDir() + "/" + name);
    for (std::size_t n = 0; n < full.size(); ++n) {
      const Bytes cut(full.begin(), full.begin() + static_cast<long>(n));
      auto l = LoadOurs(cut);
      EXPECT_TRUE(!l->error.empty() || !l->warnings.empty()) << name << " cut at " << n;
    }
  }
}

// Random damage to every sample: the reader may complain in any of its ways
// but must not crash, hang, or throw anything but GIFException; what it
// reads must also be writable.
TEST(GifReader, DamagedFiles) {
  std::mt19937 rng(20261206);
  const auto samples = AllSamples();
  for (int round = 0; round < 4000; ++round) {
    const Sample& s = samples[static_cast<std::size_t>(rng() % samples.size())];
    Bytes b = s.data;
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = rng() % b.size();
      switch (rng() % 4) {
        case 0: b[at] = static_cast<std::uint8_t>(rng()); break;
        case 1: b[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8)); break;
        case 2: b.erase(b.begin() + static_cast<long>(at)); break;
        default: b.insert(b.begin() + static_cast<long>(at), static_cast<std::uint8_t>(rng())); break;
      }
      if (b.empty()) b.push_back(0);
    }
    // A damaged size byte easily asks for frames of millions of pixels;
    // a lower limit keeps the test quick.
    auto l = LoadOurs(b, 1 << 20);
    bool any_pixels = false;
    for (auto& f : l->image->Images()) any_pixels |= !f->Empty();
    if (!any_pixels) continue;
    for (auto c : {gif::TGIFCompression::gcLZW, gif::TGIFCompression::gcRLE}) {
      l->image->SetCompression(c);
      fw::TMemoryStream out;
      try {
        l->image->SaveToStream(out);
      } catch (const gif::GIFException&) {
        // A pixel beyond a short colour table cannot be written.
      }
    }
  }
}

}  // namespace
}  // namespace giftest
