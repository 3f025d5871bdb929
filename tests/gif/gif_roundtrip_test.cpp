// Writing: every file we read and write again decodes in giflib (and in our
// reader) to the same tables, extensions and pixels, with LZW and with
// run-length coding; exact bytes of small code streams.
#include <gtest/gtest.h>

#include <functional>

#include "gif/gif_encoder.h"
#include "tests/common/error_text.h"
#include "tests/gif/gif_test_support.h"

namespace giftest {
namespace {

using gif::TGIFCompression;

TEST(GifRoundTrip, GiflibReadsWhatWeWrite) {
  for (const Sample& s : AllSamples()) {
    auto ours = LoadOurs(s.data);
    ASSERT_EQ(ours->error, "") << s.name;
    for (TGIFCompression c : {TGIFCompression::gcLZW, TGIFCompression::gcRLE}) {
      const std::string what = s.name + (c == TGIFCompression::gcRLE ? " rle" : " lzw");
      const Bytes written = SaveOurs(*ours->image, c);
      auto theirs = LoadGiflib(written);
      ASSERT_NE(theirs->file, nullptr) << what << " giflib error " << theirs->error;
      ExpectSameAsGiflib(*ours->image, theirs->file, what);
      // And our own reader takes it back without a word.
      auto again = LoadOurs(written);
      EXPECT_EQ(again->error, "") << what;
      EXPECT_TRUE(again->warnings.empty()) << what;
      ExpectSameAsGiflib(*again->image, theirs->file, what + " reread");
    }
  }
}

TEST(GifRoundTrip, LzwIsNotLargerThanGiflibsOwn) {
  // Our LZW output should be about as compact as giflib's encoder; a broken
  // string table (lookups that miss) would still decode but grow the file.
  for (const Sample& s : BuiltSamples()) {
    auto ours = LoadOurs(s.data);
    const Bytes written = SaveOurs(*ours->image, TGIFCompression::gcLZW);
    EXPECT_LE(written.size(), s.data.size() + s.data.size() / 20 + 64) << s.name;
  }
}

Bytes EncodeRaw(gif::TGIFEncoder& e, int code_size, int colors, const Bytes& pixels, int w, int h) {
  fw::TMemoryStream out;
  e.Encode(out, code_size, colors, pixels.empty() ? nullptr : pixels.data(), false, h, w);
  return StreamBytes(out);
}

// Exact bytes of the smallest code streams. A 1 x 1 frame of colour 0 with
// a 2-colour table: code size 2, then one sub-block of 2 bytes holding
// clear (4), 0 and end (5) in 3 bits each. No pixels: the end code only.
TEST(GifRoundTrip, SmallestCodeStreams) {
  for (TGIFCompression c : {TGIFCompression::gcLZW, TGIFCompression::gcRLE}) {
    gif::TGIFImage image;
    image.GlobalColorMap().Add(0x000000);
    image.GlobalColorMap().Add(0xFFFFFF);
    image.Header().SetWidth(1);
    image.Header().SetHeight(1);
    auto frame = std::make_unique<gif::TGIFSubImage>(&image);
    frame->SetSize(1, 1, 0);
    image.Add(std::move(frame));
    EXPECT_EQ(SaveOurs(image, c),
              (Bytes{'G',  'I',  'F', '8', '7', 'a', 1, 0, 1, 0, 0x80, 0,    0,    0,    0,    0,    0xFF, 0xFF,
                     0xFF, 0x2C, 0,   0,   0,   0,   1, 0, 1, 0, 0,    0x02, 0x02, 0x44, 0x01, 0x00, 0x3B}));
  }
  gif::TLZWEncoder lzw;
  EXPECT_EQ(EncodeRaw(lzw, 1, 2, {}, 0, 0), (Bytes{0x02, 0x01, 0x05, 0x00}));
  gif::TRLEEncoder rle;
  EXPECT_EQ(EncodeRaw(rle, 8, 256, {}, 5, 0), (Bytes{0x08, 0x02, 0x01, 0x01, 0x00}));
  fw::TMemoryStream out;  // the data chain is cut into sub-blocks of 255
  {
    gif::TGIFWriter w(out);
    Bytes data(400);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
    w.Write(data.data(), 400);
  }
  const Bytes b = StreamBytes(out);
  ASSERT_EQ(b.size(), 402u);
  EXPECT_EQ(std::vector<int>({b[0], b[1], b[256], b[257], b[401]}), std::vector<int>({255, 0, 145, 255, 399 % 256}));
}

TEST(GifRoundTrip, ColourOutsideTheTableIsRefused) {
  for (TGIFCompression c : {TGIFCompression::gcLZW, TGIFCompression::gcRLE}) {
    gif::TGIFImage image;
    image.Header().SetWidth(4);
    image.Header().SetHeight(1);
    auto frame = std::make_unique<gif::TGIFSubImage>(&image);
    for (int i = 0; i < 3; ++i) frame->ColorMap().Add(static_cast<gif::TColorValue>(i));
    frame->SetSize(4, 1, 0);
    frame->Data()[2] = 4;  // table of 3 is written with 4 entries; 4 is past it
    image.Add(std::move(frame));
    EXPECT_EQ(testsupport::ErrorText<gif::GIFException>([&] { SaveOurs(image, c); }), "Color not in color table");
  }
  gif::TGIFImage image;  // a table holds at most 256 colours
  for (int i = 0; i < 256; ++i) image.GlobalColorMap().Add(static_cast<gif::TColorValue>(i));
  EXPECT_EQ(testsupport::ErrorText<gif::GIFException>([&] { image.GlobalColorMap().Add(1); }), "Color table overflow");
  gif::TGIFImage small;  // a transparent index past the table becomes 0
  small.GlobalColorMap().Add(1);
  small.GlobalColorMap().Add(2);
  gif::TGIFSubImage frame(&small);
  auto* gce = new gif::TGIFGraphicControlExtension(&frame);
  frame.Extensions().Add(std::unique_ptr<gif::TGIFExtension>(gce));
  gce->SetTransparentColorIndex(2);
  EXPECT_EQ(gce->TransparentColorIndex(), 0);
}

TEST(GifRoundTrip, VersionFollowsTheParts) {
  auto l = LoadOurs(ReadFileBytes(CorpusDir() + "/xslt-node.gif"));  // 87a, no extensions
  Bytes out = SaveOurs(*l->image, TGIFCompression::gcLZW);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 6), "GIF87a");
  auto* comment = new gif::TGIFCommentExtension(l->image->Images()[0]);
  comment->Comment() = {std::string(300, 'x')};
  l->image->Images()[0]->Extensions().Add(std::unique_ptr<gif::TGIFExtension>(comment));
  out = SaveOurs(*l->image, TGIFCompression::gcLZW);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 6), "GIF89a");
  // The 300-character line goes out as sub-blocks of 255 and 45 and comes
  // back as two lines.
  auto again = LoadOurs(out);
  auto* c = dynamic_cast<gif::TGIFCommentExtension*>(again->image->Images()[0]->Extensions()[0]);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->Comment().size(), 2u);
  EXPECT_EQ(c->Comment()[0], std::string(255, 'x'));
  EXPECT_EQ(c->Comment()[1], std::string(45, 'x'));
}

// Random frames against giflib's decoder: sizes from 1 pixel up, tables of
// any count (not only powers of two), global, local, both (a local table
// needing more bits than the global one: the screen's table field must
// still describe the global table) or none, runs from 1 pixel to whole
// frames and noise, interlaced or not. The run-length coder's choices
// between repeating table codes, restarting from a clear code and sending
// single pixels all depend on run lengths and on how full the table is, so
// they are reached here rather than by hand.
TEST(GifRoundTrip, RandomFramesDecodeInGiflib) {
  std::mt19937 rng(4242);
  for (int round = 0; round < 1000; ++round) {
    gif::TGIFImage image;
    const int w = 1 + static_cast<int>(rng() % (round % 10 == 0 ? 300 : 70));
    const int h = 1 + static_cast<int>(rng() % (round % 10 == 0 ? 200 : 40));
    // tables 0: none, 1: global only, 2: both, else local only
    const int colors = 1 + static_cast<int>(rng() % 256), tables = static_cast<int>(rng() % 8);
    image.Header().SetWidth(static_cast<std::uint16_t>(w));
    image.Header().SetHeight(static_cast<std::uint16_t>(h));
    auto frame = std::make_unique<gif::TGIFSubImage>(&image);
    for (int i = 0; i < colors; ++i) {
      if (tables >= 2) frame->ColorMap().Add(static_cast<gif::TColorValue>(rng() & 0xFFFFFF));
      if ((tables == 1 || tables == 2) && i <= colors / 3)
        image.GlobalColorMap().Add(static_cast<gif::TColorValue>(rng()));
    }
    frame->SetSize(w, h, 0);
    frame->SetInterlaced(rng() % 3 == 0);
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    const int style = static_cast<int>(rng() % 4);
    for (std::size_t i = 0; i < n;) {
      std::size_t run = 1;
      if (style == 1) run = 1 + rng() % 8;
      if (style == 2) run = 1 + rng() % 300;
      if (style == 3) run = (rng() % 4 == 0) ? 1 + rng() % 5000 : 1 + rng() % 40;
      const auto v = static_cast<std::uint8_t>(rng() % static_cast<unsigned>(tables == 1 ? 1 + colors / 3 : colors));
      for (std::size_t k = 0; k < run && i < n; ++k) frame->Data()[i++] = v;
    }
    image.Add(std::move(frame));
    for (TGIFCompression c : {TGIFCompression::gcLZW, TGIFCompression::gcRLE}) {
      const Bytes out = SaveOurs(image, c);
      auto theirs = LoadGiflib(out);
      ASSERT_NE(theirs->file, nullptr) << round;
      ExpectSameAsGiflib(image, theirs->file, "round " + std::to_string(round));
      if (tables == 2) {
        EXPECT_EQ((out[10] >> 4) & 7, gif::BitsNeeded(colors) - 1) << "resolution of the largest table";
      }
      if (HasFailure()) return;
    }
  }
}

TEST(GifRoundTrip, AssignCopiesEverything) {
  for (const char* name : {"qt-spinner.gif", "tk-tai-ku.gif", "cscope-back.gif"}) {
    auto l = LoadOurs(ReadFileBytes(CorpusDir() + "/" + name));
    gif::TGIFImage copy;
    copy.Assign(*l->image);
    EXPECT_EQ(SaveOurs(copy, TGIFCompression::gcLZW), SaveOurs(*l->image, TGIFCompression::gcLZW)) << name;
    EXPECT_EQ(copy.Images()[0]->Transparent(), l->image->Images()[0]->Transparent());
  }
}

// Files written and read back; a failed load ends its progress with 0.
TEST(GifRoundTrip, FilesAndProgress) {
  const std::string source = CorpusDir() + "/qt-spinner.gif", copy = ::testing::TempDir() + "gif_roundtrip_copy.gif";
  gif::TGIFImage image, again;
  image.LoadFromFile(source);
  image.SaveToFile(copy);
  again.LoadFromFile(copy);
  std::filesystem::remove(copy);
  ExpectSameAsGiflib(again, LoadGiflib(ReadFileBytes(source))->file, "file copy");
  std::vector<std::pair<gif::TProgressStage, int>> progress;
  again.OnProgress = [&](const void*, gif::TProgressStage stage, int percent, const std::string&) {
    progress.push_back({stage, percent});
  };
  fw::TMemoryStream junk;
  junk.WriteBuffer("not a picture at all", 20);
  junk.SetPosition(0);
  EXPECT_THROW(again.LoadFromStream(junk), gif::GIFException);
  EXPECT_EQ(progress.back(), std::make_pair(gif::TProgressStage::psEnding, 0));
}

}  // namespace
}  // namespace giftest
