// The picture registry and the framework bitmap.
#include <gtest/gtest.h>

#include <filesystem>

#include "framework/gui/bitmap.h"
#include "framework/gui/canvas.h"
#include "framework/gui/picture.h"

namespace {

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("tolmid_picture_" + std::to_string(::getpid()) + name)).string();
}

TEST(PictureRegistry, UnknownExtensionFailsAndKeepsGraphic) {
  fw::TPicture picture;
  picture.SetGraphic(std::make_unique<fw::TBitmap>());
  for (const char* name : {"/tmp/x.unknownext", "/tmp/dir.gif/noext"}) {
    try {
      picture.LoadFromFile(name);
      FAIL() << name;
    } catch (const fw::EInvalidGraphic& e) {
      EXPECT_NE(std::string(e.what()).find("Unknown picture file extension"), std::string::npos);
    }
  }
  EXPECT_NE(dynamic_cast<fw::TBitmap*>(picture.Graphic()), nullptr);
}

TEST(Bitmap, BmpRoundTripAndPalette) {
  fw::TBitmap b;
  b.SetPixelFormat(fw::TPixelFormat::pf8bit);
  b.SetSize(5, 3);
  b.SetPalette({fw::clRed, fw::clLime, fw::clBlue});
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) b.ScanLine(y)[x] = static_cast<std::uint8_t>((x + y) % 3);
  const std::string path = TempPath("rt.BMP");
  b.SaveToFile(path);
  fw::TPicture picture;
  picture.LoadFromFile(path);  // "bmp" is registered from the start
  auto* back = dynamic_cast<fw::TBitmap*>(picture.Graphic());
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->Width(), 5);
  ASSERT_EQ(back->Height(), 3);
  const fw::TColor expect[3] = {fw::clRed, fw::clLime, fw::clBlue};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(back->Canvas().Pixel(x, y), expect[(x + y) % 3]);
  std::filesystem::remove(path);
  EXPECT_THROW(b.ScanLine(3), fw::EInvalidGraphicOperation);
  EXPECT_THROW(b.ScanLine(-1), fw::EInvalidGraphicOperation);
}

TEST(Bitmap, HostileSizesAndDataAreRefused) {
  fw::TBitmap b;
  EXPECT_THROW(b.SetSize(-1, 5), fw::EInvalidGraphic);
  EXPECT_THROW(b.SetSize(70000, 1), fw::EInvalidGraphic);
  EXPECT_THROW(b.SetSize(60000, 60000), fw::EInvalidGraphic);
  // A BMP header that announces 60000 x 60000 pixels.
  std::uint8_t bmp[54] = {'B', 'M'};
  bmp[10] = 54;
  bmp[14] = 40;
  const std::uint32_t side = 60000;
  std::memcpy(bmp + 18, &side, 4);
  std::memcpy(bmp + 22, &side, 4);
  bmp[26] = 1;
  bmp[28] = 24;
  fw::TMemoryStream s;
  s.WriteBuffer(bmp, sizeof bmp);
  s.SetPosition(0);
  EXPECT_THROW(b.LoadFromStream(s), fw::EInvalidGraphic);
  fw::TMemoryStream junk;
  junk.WriteBuffer("not a bitmap", 12);
  junk.SetPosition(0);
  EXPECT_THROW(b.LoadFromStream(junk), fw::EInvalidGraphic);
}

TEST(Graphics, MulDivRoundsHalvesAwayFromZero) {
  const struct { int a, b, c, r; } cases[] = {
      {5, 1, 2, 3}, {-5, 1, 2, -3}, {7, 3, 2, 11}, {1, 1, 3, 0}, {2, 1, 3, 1}, {10, 50, 20, 25}, {1, 1, 0, -1},
      {0x7FFFFFFF, 2, 1, -1}};
  for (const auto& c : cases) EXPECT_EQ(fw::MulDiv(c.a, c.b, c.c), c.r) << c.a << "*" << c.b << "/" << c.c;
}

}  // namespace
