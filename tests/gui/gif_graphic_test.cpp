// The GIF graphic class: registry, import of other pictures, round trips
// through giflib, clipboard bytes, Assign and SetWidth.
#include <gtest/gtest.h>

#include <QImage>

#include "framework/gui/canvas.h"
#include "framework/gui/picture.h"
#include "gif/color_lookup.h"
#include "gif/gif_exception.h"
#include "gif/gif_extension.h"
#include "gui_test_support.h"
#include "tests/common/scratch_dir.h"
#include "tests/common/error_text.h"

namespace {

using namespace guitest;

// Colours of the first picture giflib shows; transparent pixels: kNone.
constexpr std::uint32_t kNone = 0xFF000000;
Picture DecodeFirstFrame(const Bytes& data, int* w, int* h) { return ModelComposite(data, kNone, w, h).at(0); }

std::unique_ptr<fw::TBitmap> TrueColorBitmap(int w, int h, int colors, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<QRgb> pal;
  for (int i = 0; i < colors; ++i) pal.push_back(qRgb(rng() & 255, rng() & 255, rng() & 255));
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixel(x, y, pal[static_cast<std::size_t>(x + y * w) % pal.size()]);
  auto b = std::make_unique<fw::TBitmap>();
  b->SetImage(img.convertToFormat(QImage::Format_BGR888));
  return b;
}

TEST(GIFImage, RegisteredForGifExtension) {
  gif::GIFImageInitialization();
  testsupport::ScratchDir dir;
  const Bytes data = MakeGif(5, 4, {{0, 0, 5, 4, 0, -1, 0, false, {}}}, 3);
  testsupport::WriteFile(dir / "a.GIF", std::string(data.begin(), data.end()));
  fw::TPicture picture;
  picture.LoadFromFile(dir / "a.GIF");
  auto* g = dynamic_cast<gif::TGIFGraphic*>(picture.Graphic());
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(picture.Width(), 5);
  EXPECT_STREQ(g->ClassName(), "TGIFImage");
  EXPECT_EQ(fw::TPicture::FileFormatDescription(".gif"), "GIF Image");
  EXPECT_NE(fw::TPicture::FindClipboardClass(gif::GIFClipboardFormat()), nullptr);
}

// True-colour pictures imported and written, as giflib decodes them: with
// few colours exactly (no reduction), with more through the web palette
// (the default), transparent ones with their key colour left out.
TEST(GIFImage, ImportTrueColorPictures) {
  gif::TNetscapeColorLookup web;
  const struct {
    int w, h, colors;
    bool reduce, transparent;
  } cases[] = {{23, 11, 1, false, false},  {23, 11, 2, false, false},  {23, 11, 17, false, false},
               {23, 11, 200, false, false}, {23, 11, 256, false, false}, {20, 15, 300, true, false},
               {8, 8, 5, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.colors) + " colours");
    auto src = TrueColorBitmap(c.w, c.h, c.colors, static_cast<std::uint32_t>(c.colors));
    const fw::TColor key = src->Canvas().Pixel(0, c.h - 1);  // the bottom-left pixel's colour
    src->SetTransparent(c.transparent);
    gif::TGIFGraphic g;
    if (!c.reduce) g.ColorReduction = gif::TColorReduction::rmNone;
    g.Add(src.get());
    int w = 0, h = 0;
    const Picture p = DecodeFirstFrame(SaveBytes(g), &w, &h);
    ASSERT_EQ(w, c.w);
    ASSERT_EQ(h, c.h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        fw::TColor want = src->Canvas().Pixel(x, y);
        gif::TGIFColor chosen{};
        if (c.reduce) web.Lookup(fw::GetRValue(want), fw::GetGValue(want), fw::GetBValue(want), chosen);
        if (c.reduce) want = gif::ColorValue(chosen);
        if (c.transparent && want == key) want = kNone;
        ASSERT_EQ(p[static_cast<std::size_t>(y * w + x)], want) << x << "," << y;
      }
  }
  auto many = TrueColorBitmap(20, 15, 300, 5);
  gif::TGIFGraphic g;
  g.ColorReduction = gif::TColorReduction::rmNone;
  EXPECT_EQ(testsupport::ErrorText<gif::GIFException>([&] { g.Add(many.get()); }), "Color table overflow");
  // A transparent picture that already uses 256 colours gets no transparency.
  auto full = TrueColorBitmap(16, 16, 256, 12);
  full->SetTransparent(true);
  gif::TGIFGraphic g2;
  g2.ColorReduction = gif::TColorReduction::rmNone;
  g2.Add(full.get());
  EXPECT_FALSE(g2.Image().Images()[0]->Transparent());
}

TEST(GIFImage, ClipboardBytesRoundTrip) {
  const Bytes data = MakeGif(7, 6, {{0, 0, 7, 6, 0, -1, 3, false, {}}, {1, 1, 3, 3, 2, 4, 3, false, {}}}, 4, 0);
  gif::TGIFGraphic g;
  LoadBytes(g, data);
  const std::vector<std::uint8_t> clip = g.SaveToClipboardFormat();
  gif::TGIFGraphic back;
  back.LoadFromClipboardFormat(gif::GIFClipboardFormat(), clip);
  EXPECT_EQ(SaveBytes(back), SaveBytes(g));
  EXPECT_EQ(testsupport::ErrorText<gif::GIFException>([&] { back.LoadFromClipboardFormat(12345, clip); }),
            "Unsupported clipboard format");
  gif::TGIFGraphic empty;
  EXPECT_TRUE(empty.SaveToClipboardFormat().empty());
}

TEST(GIFImage, SetWidthKeepsFramesInside) {
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(10, 8, {{2, 1, 6, 5, 0, -1, 0, false, {}}}, 1));
  EXPECT_EQ(testsupport::ErrorText<gif::GIFException>([&] { g.SetWidth(7); }),
            "Image width too small for contained frames");
  EXPECT_EQ(g.Width(), 10);
  EXPECT_THROW(g.SetHeight(5), gif::GIFException);
  g.SetWidth(8);
  EXPECT_EQ(g.Width(), 8);
  EXPECT_THROW(g.Add(static_cast<const fw::TGraphic*>(nullptr)), gif::GIFException);
}

// A 16-colour BMP file as written by any paint program: 4 bits a pixel,
// two pixels a byte with the left one in the high half, rows bottom up and
// padded to 4 bytes.
Bytes FourBitBmp(int w, int h, const std::vector<fw::TColor>& palette, const std::function<int(int, int)>& pixel) {
  const int row = (w + 7) / 8 * 4;
  const std::uint32_t offset = 14 + 40 + 16 * 4, size = offset + static_cast<std::uint32_t>(row * h);
  Bytes b(size, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, size);
  put32(10, offset);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(w));
  put32(22, static_cast<std::uint32_t>(h));
  b[26] = 1;
  b[28] = 4;
  put32(46, 16);
  for (std::size_t i = 0; i < 16; ++i) {
    b[54 + i * 4] = fw::GetBValue(palette[i]);
    b[54 + i * 4 + 1] = fw::GetGValue(palette[i]);
    b[54 + i * 4 + 2] = fw::GetRValue(palette[i]);
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t& byte = b[offset + static_cast<std::size_t>((h - 1 - y) * row + x / 2)];
      byte |= static_cast<std::uint8_t>(x % 2 ? pixel(x, y) : pixel(x, y) << 4);
    }
  return b;
}

TEST(GIFImage, ImportFourBitBitmapAndPictureHolder) {
  std::vector<fw::TColor> palette;
  for (int i = 0; i < 16; ++i)
    palette.push_back(fw::RGBColor(static_cast<std::uint8_t>(i * 16), static_cast<std::uint8_t>(255 - i * 9),
                                   static_cast<std::uint8_t>(i * 5)));
  auto pixel = [](int x, int y) { return (x * 3 + y * 5) % 16; };
  const Bytes bmp = FourBitBmp(7, 3, palette, pixel);
  fw::TBitmap b;
  fw::TMemoryStream s;
  s.WriteBuffer(bmp.data(), static_cast<std::int64_t>(bmp.size()));
  s.SetPosition(0);
  b.LoadFromStream(s);
  fw::TPicture holder;
  holder.SetGraphic(std::make_unique<fw::TBitmap>());
  holder.Graphic()->Assign(b);
  // The same frame from the bitmap, from the holder, and kept through a
  // GIF file read back by giflib.
  for (const bool through_holder : {false, true}) {
    gif::TGIFGraphic g;
    g.ColorReduction = gif::TColorReduction::rmNone;
    auto f = std::make_unique<gif::TGIFSubImage>(&g.Image());
    if (through_holder)
      gif::ImportFrame(*f, holder, {});
    else
      gif::ImportFrame(*f, b, {});
    g.Add(std::move(f));
    gif::TGIFSubImage* frame = g.Image().Images()[0];
    ASSERT_EQ(frame->Width(), 7);
    ASSERT_EQ(frame->ColorMap().Count(), 16);
    int w = 0, h = 0;
    const Picture p = DecodeFirstFrame(SaveBytes(g), &w, &h);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 7; ++x) {
        EXPECT_EQ(frame->Pixels(x, y), pixel(x, y));
        EXPECT_EQ(p[static_cast<std::size_t>(y * 7 + x)], palette[static_cast<std::size_t>(pixel(x, y))]);
      }
  }
  // An empty holder clears the frame.
  gif::TGIFGraphic g;
  LoadBytes(g, MakeGif(4, 4, {{0, 0, 4, 4, 0, -1, 0, false, {}}}, 1));
  fw::TPicture nothing;
  gif::ImportFrame(*g.Image().Images()[0], nothing, {});
  EXPECT_TRUE(g.Image().Images()[0]->Empty());
}

// Without any colour table the first frame asks the image, which is
// already answering: the guard refuses; once the frame is rendered its
// bitmap answers.
TEST(GIFImage, PaletteWithoutColorTables) {
  gif::TGIFGraphic g;
  auto f = std::make_unique<gif::TGIFSubImage>(&g.Image());
  f->SetSize(3, 2);
  g.Add(std::move(f));
  g.DrawOptions = 0;
  EXPECT_EQ(testsupport::ErrorText<gif::GIFException>([&] { g.GetPalette(); }),
            "No global or local color table defined");
  g.FrameBitmap(0);
  EXPECT_EQ(g.GetPalette().size(), 256u);
  gif::TGIFGraphic empty;
  EXPECT_TRUE(empty.GetPalette().empty());
}

}  // namespace
