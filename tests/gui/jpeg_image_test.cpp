// The JPEG picture class against Qt's own JPEG reader (a second, separate
// source manager and colour path over the same library), round trips,
// the exact error texts of bad files, and the decoding limits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <QBuffer>
#include <QImage>
#include <QImageReader>

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
}

#include "framework/gui/jpeg_image.h"
#include "tests/common/error_text.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

QImage Pattern(int w, int h, unsigned seed) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const unsigned v = (static_cast<unsigned>(x) * 7 + static_cast<unsigned>(y) * 13 + seed) * 2654435761u;
      img.setPixel(x, y, qRgb((x * 255) / w, (y * 255) / h, static_cast<int>((v >> 24) & 0x3F) + 96));
    }
  return img;
}

Bytes Encode(const QImage& img, int quality, bool progressive, bool gray) {
  const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
  Bytes rows(static_cast<std::size_t>(rgb.width()) * rgb.height() * 4);
  for (int y = 0; y < rgb.height(); ++y)
    std::memcpy(rows.data() + static_cast<std::size_t>(y) * rgb.width() * 4, rgb.constScanLine(y),
                static_cast<std::size_t>(rgb.width()) * 4);
  Bytes out;
  const fw::jpeg::Status st =
      fw::jpeg::Encode(rows.data(), rgb.width(), rgb.height(), {quality, progressive, gray}, out);
  EXPECT_TRUE(st.ok()) << st.Message();
  return out;
}

// A CMYK file written straight with the library (Adobe marker, inverted
// ink values, as the library writes them).
Bytes CmykFile(int w, int h) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = 4;
  c.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_colorspace(&c, JCS_CMYK);
  jpeg_set_quality(&c, 95, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(w) * 4);
  while (c.next_scanline < c.image_height) {
    for (int x = 0; x < w; ++x) {
      row[x * 4 + 0] = static_cast<unsigned char>(x * 255 / w);
      row[x * 4 + 1] = static_cast<unsigned char>(c.next_scanline * 255 / c.image_height);
      row[x * 4 + 2] = 200;
      row[x * 4 + 3] = 230;
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  Bytes out(mem, mem + size);
  jpeg_destroy_compress(&c);
  free(mem);
  return out;
}

Bytes QtEncode(const QImage& img, int quality) {
  QByteArray b;
  QBuffer buf(&b);
  buf.open(QIODevice::WriteOnly);
  EXPECT_TRUE(img.save(&buf, "JPEG", quality));
  return Bytes(b.begin(), b.end());
}

QImage QtDecode(const Bytes& data) {
  QByteArray b(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
  QBuffer buf(&b);
  buf.open(QIODevice::ReadOnly);
  QImageReader r(&buf, "jpeg");
  return r.read().convertToFormat(QImage::Format_RGB32);
}

void Load(fw::TJPEGImage& j, const Bytes& data) {
  fw::TMemoryStream s;
  if (!data.empty()) s.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  s.SetPosition(0);
  j.LoadFromStream(s);
}

int MaxDiff(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return 1000;
  int worst = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      worst = std::max(
          {worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
    }
  return worst;
}

// Mean absolute difference over all channels.
double MeanDiff(const QImage& a, const QImage& b) {
  double sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
    }
  return sum / (3.0 * a.width() * a.height());
}

// The message a user sees: the code and the library's own text for it.
std::string JpegError(int code, const std::string& text) { return "JPEG error #" + std::to_string(code) + ": " + text; }
const std::string kEarlyEnd = "Premature end of input file";

TEST(JPEGImage, DecodesLikeQtsReader) {
  struct Case {
    const char* name;
    Bytes file;
  };
  const std::vector<Case> cases = {
      {"baseline 4:2:0", Encode(Pattern(97, 61, 1), 85, false, false)},
      {"progressive", Encode(Pattern(64, 33, 2), 70, true, false)},
      {"grey", Encode(Pattern(31, 40, 3), 90, false, true)},
      {"odd size, quality 100", Encode(Pattern(1, 17, 4), 100, false, false)},
      {"written by Qt", QtEncode(Pattern(120, 80, 5), 60)}, {"CMYK with Adobe marker", CmykFile(40, 24)},
  };
  for (const Case& c : cases) {
    fw::TJPEGImage j;
    Load(j, c.file);
    const QImage theirs = QtDecode(c.file);
    ASSERT_FALSE(theirs.isNull()) << c.name;
    EXPECT_EQ(j.Width(), theirs.width()) << c.name;
    EXPECT_EQ(j.Height(), theirs.height()) << c.name;
    EXPECT_LE(MaxDiff(j.Bitmap().Image().convertToFormat(QImage::Format_RGB32), theirs), 1) << c.name;
  }
}

TEST(JPEGImage, SavesLoadedBytesUnchangedAndEncodesAssignedPictures) {
  const Bytes file = QtEncode(Pattern(50, 30, 6), 75);
  fw::TJPEGImage j;
  Load(j, file);
  fw::TMemoryStream out;
  j.SaveToStream(out);
  ASSERT_EQ(out.Size(), static_cast<std::int64_t>(file.size()));
  EXPECT_EQ(std::memcmp(out.Memory(), file.data(), file.size()), 0);

  // A bitmap assigned at quality 100 comes back close to the source.
  fw::TBitmap b;
  b.SetImage(Pattern(45, 23, 7));
  fw::TJPEGImage k;
  k.SetCompressionQuality(100);
  k.Assign(b);
  fw::TJPEGImage again;
  Load(again, k.Data());
  EXPECT_EQ(again.Width(), 45);
  // Mean error, not the largest: the pattern's noise does not survive
  // chroma subsampling; swapped channels would be off by about 80.
  EXPECT_LE(MeanDiff(again.Bitmap().Image().convertToFormat(QImage::Format_RGB32), Pattern(45, 23, 7)), 10.0);
  fw::TBitmap back;
  back.Assign(again);
  EXPECT_EQ(back.Width(), 45);
  EXPECT_THROW(again.SetWidth(10), fw::EInvalidGraphicOperation);
}

TEST(JPEGImage, BadFilesFailWithTheLibrarysCodeAndKeepThePicture) {
  const Bytes good = Encode(Pattern(40, 40, 8), 80, false, false);
  const Bytes progressive = Encode(Pattern(40, 40, 9), 80, true, false);
  auto cut = [](const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); };
  struct Case {
    const char* name;
    Bytes file;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"empty", {}, JpegError(JERR_INPUT_EOF, kEarlyEnd)},
      {"not a JPEG", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0},
       JpegError(JERR_NO_SOI, "Not a JPEG file: starts with 0x47 0x49")},
      {"header only", cut(good, 200), JpegError(JERR_INPUT_EOF, kEarlyEnd)},
      {"cut in the scan", cut(good, good.size() / 2), JpegError(JERR_INPUT_EOF, kEarlyEnd)},
      {"no end marker", cut(good, good.size() - 2), JpegError(JERR_INPUT_EOF, kEarlyEnd)},
      {"progressive cut", cut(progressive, progressive.size() * 2 / 3), JpegError(JERR_INPUT_EOF, kEarlyEnd)},
      {"SOI only", {0xFF, 0xD8}, JpegError(JERR_INPUT_EOF, kEarlyEnd)},
  };
  for (const Case& c : cases) {
    fw::TJPEGImage j;
    Load(j, Encode(Pattern(9, 9, 10), 80, false, false));
    try {
      Load(j, c.file);
      ADD_FAILURE() << c.name << " loaded";
    } catch (const fw::EJPEG& e) {
      EXPECT_EQ(e.Message(), c.message) << c.name;
    }
    EXPECT_EQ(j.Width(), 9) << c.name;  // the earlier picture stays
  }
}

TEST(JPEGImage, LimitsRefuseHugeAndEndlessFiles) {
  fw::jpeg::DecodeLimits& limits = fw::TJPEGImage::Limits();
  const fw::jpeg::DecodeLimits saved = limits;
  const Bytes progressive = Encode(Pattern(32, 32, 11), 80, true, false);
  limits.max_scans = 2;
  fw::TJPEGImage j;
  EXPECT_EQ(testsupport::ErrorText<fw::EJPEG>([&] { Load(j, progressive); }), "JPEG image has more than 2 scans");
  limits = saved;
  limits.max_pixels = 32 * 31;
  EXPECT_EQ(testsupport::ErrorText<fw::EJPEG>([&] { Load(j, progressive); }), "JPEG image too large (32 x 32)");
  limits = saved;
  EXPECT_NO_THROW(Load(j, progressive));
}

}  // namespace
