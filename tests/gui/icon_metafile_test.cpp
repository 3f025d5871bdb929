// The icon and metafile picture classes on files the tests build byte by
// byte from the formats' layouts (tests/common/picture_files.h): loaded
// through the registry from a file and from a stream, their sizes, the
// pixels they draw at their own size and at another, and damaged files
// refused with the exact message while the picture loaded before stays.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <QGuiApplication>
#include <fontconfig/fontconfig.h>

#include "framework/gui/bitmap.h"
#include "framework/gui/canvas.h"
#include "framework/gui/icon.h"
#include "framework/gui/metafile.h"
#include "framework/gui/picture.h"
#include "tests/common/error_text.h"
#include "tests/common/picture_files.h"

namespace {

using testsupport::EmfScene;
using testsupport::EmfWriter;
using testsupport::Halves;
using testsupport::IcoFile;
using testsupport::Solid;
using testsupport::WmfScene;
using testsupport::WmfWriter;

// Qt SVG draws an EMF picture's text with the application's fonts. The
// application made for that goes when the tests end: with it goes what
// the font database holds (LeakSanitizer would report fontconfig's parts).
class GuiApplication : public ::testing::Environment {
 public:
  static void Ensure() {
    if (QCoreApplication::instance() != nullptr) return;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = std::make_unique<QGuiApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  static inline int argc_ = 1;
  static inline char arg0_[] = "gui_tests";
  static inline char* argv_[] = {arg0_, nullptr};
  static inline std::unique_ptr<QGuiApplication> app_;
};
[[maybe_unused]] ::testing::Environment* const kGuiApplication =
    ::testing::AddGlobalTestEnvironment(new GuiApplication);

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("tolmid_icon_metafile_" + std::to_string(::getpid()) + name))
      .string();
}

void Load(fw::TGraphic& g, const std::string& bytes) {
  fw::TMemoryStream s;
  s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  s.SetPosition(0);
  g.LoadFromStream(s);
}

// The graphic drawn on white, w x h.
QImage DrawnOnWhite(fw::TGraphic& g, int w, int h) {
  fw::TBitmap b;
  b.SetPixelFormat(fw::TPixelFormat::pf32bit);
  b.SetSize(w, h);
  b.Canvas().SetBrushColor(fw::clWhite);
  b.Canvas().FillRect(fw::Rect(0, 0, w, h));
  b.Canvas().StretchDraw(fw::Rect(0, 0, w, h), g);
  return b.Image().convertToFormat(QImage::Format_RGB32);
}

struct Probe {
  int x, y;  // at the picture's own size
  QRgb color;
};

bool Near(QRgb a, QRgb b) {
  return std::abs(qRed(a) - qRed(b)) <= 24 && std::abs(qGreen(a) - qGreen(b)) <= 24 &&
         std::abs(qBlue(a) - qBlue(b)) <= 24;
}

// Dark pixels in the rectangle, in parts of a thousand.
int DarkShare(const QImage& img, QRect r) {
  int dark = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) dark += qGray(img.pixel(x, y)) < 96;
  return dark * 1000 / (r.width() * r.height());
}

constexpr QRgb kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kYellow = 0xFFFFFF00,
               kWhite = 0xFFFFFFFF;

// Bytes with a little-endian 16- or 32-bit value put at an offset.
std::string With16(std::string b, std::size_t at, unsigned v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
  return b;
}
std::string With32(std::string b, std::size_t at, std::uint32_t v) {
  return With16(With16(std::move(b), at, v & 0xFFFF), at + 2, v >> 16);
}

std::string PlainWmf() {
  WmfWriter w(400, 200);
  testsupport::DrawScene(w);
  return w.Bytes();
}

// A red rectangle (100, 50)-(300, 150) in a 400 x 200 frame, the header's
// bounds around the rectangle only.
std::string PartEmf() {
  EmfWriter e(400, 200);
  e.Select(EmfWriter::kNullPen);
  const int red = e.CreateBrush(0xFF0000);
  e.Select(red);
  e.Rectangle(100, 50, 299, 149);
  return With32(With32(With32(With32(e.Bytes(), 8, 100), 12, 50), 16, 299), 20, 149);
}

// Before any test makes the application object: an EMF picture cannot be
// drawn without it (Qt would abort on its first text).
TEST(Metafile, EmfNeedsTheApplicationObject) {
  if (QCoreApplication::instance() != nullptr) GTEST_SKIP() << "an application object exists already";
  fw::TMetafile m;
  EXPECT_EQ(testsupport::ErrorText<fw::EInvalidGraphicOperation>([&] { Load(m, EmfScene()); }),
            "Cannot draw an EMF picture before the application has started");
  EXPECT_TRUE(m.Empty());
}

// Text given as glyph indices sends libemf2svg to fontconfig, which it then
// shut down under Qt's feet: Qt's fonts were left on a freed configuration
// and fontconfig aborted the program on a later call.
TEST(Metafile, EmfGlyphIndexTextLeavesFontconfigUp) {
  GuiApplication::Ensure();
  FcConfig* const before = FcConfigGetCurrent();
  FcConfigReference(before);
  EmfWriter e(100, 40);
  e.Select(static_cast<std::uint32_t>(e.CreateFont(20, "Helvetica")));
  e.Text(5, 5, "Hi", 0x10);  // ETO_GLYPH_INDEX
  fw::TMetafile m;
  Load(m, e.Bytes());
  EXPECT_EQ(m.Width(), 100);
  EXPECT_EQ(FcConfigGetCurrent(), before);
  FcConfigDestroy(before);
}

TEST(IconAndMetafile, LoadFromFileAndStreamReportTheSizeAndDraw) {
  GuiApplication::Ensure();
  const std::vector<Probe> scene = {{100, 70, kRed},   {300, 70, kBlue},    {240, 145, kGreen}, {215, 180, kWhite},
                                    {320, 145, kRed},  {360, 145, kGreen},  {320, 175, kBlue},  {360, 175, kYellow},
                                    {190, 10, kWhite}, {370, 185, kYellow}, {5, 195, kWhite}};
  std::vector<Probe> emf_scene = scene;  // the scene without the pie
  std::erase_if(emf_scene, [](const Probe& p) { return p.x == 240 || p.x == 215; });
  const struct Case {
    const char* name;
    std::string file;  // with its extension
    std::string bytes;
    const char* class_name;
    int width, height;
    std::vector<Probe> probes;
    bool text;  // "Hi" at (20, 130), 50 high
  } cases[] = {
      // The largest image of the file is shown; transparent pixels let the
      // ground through.
      {"icon of two DIBs", "two.ico",
       IcoFile({{Solid(16, 16, Qt::blue)}, {Halves(48, 32)}, {Solid(32, 32, Qt::blue)}}), "TIcon", 48, 32,
       {{10, 16, kRed}, {40, 16, kGreen}, {1, 1, kWhite}, {5, 1, kRed}}, false},
      {"icon with a PNG image", "png.ICO", IcoFile({{Solid(32, 32, Qt::blue)}, {Halves(64, 64), true}}), "TIcon", 64,
       64, {{10, 40, kRed}, {50, 40, kGreen}, {2, 2, kWhite}}, false},
      {"placeable WMF, 96 units an inch", "scene.wmf", WmfScene(96), "TMetafile", 400, 200, scene, true},
      {"placeable WMF, 1440 units an inch", "twips.wmf", WmfScene(1440), "TMetafile", 27, 13, {{5, 4, kRed}, {26, 0, kWhite}},
       false},
      // The drawn extent, with the half unit libwmf adds around shapes.
      {"WMF without placeable header", "plain.wmf", PlainWmf(), "TMetafile", 401, 201, emf_scene, true},
      {"EMF", "scene.emf", EmfScene(), "TMetafile", 400, 200, emf_scene, true},
      // libemf2svg draws the bounds; they lie inside the frame.
      {"EMF drawing part of its frame", "part.emf", PartEmf(), "TMetafile", 400, 200,
       {{200, 100, kRed}, {110, 60, kRed}, {290, 140, kRed}, {90, 100, kWhite}, {200, 160, kWhite}, {310, 40, kWhite}},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = TempPath(c.file);
    std::ofstream(path, std::ios::binary) << c.bytes;
    fw::TPicture picture;
    picture.LoadFromFile(path);
    std::filesystem::remove(path);
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_STREQ(picture.Graphic()->ClassName(), c.class_name);
    EXPECT_EQ(picture.Width(), c.width);
    EXPECT_EQ(picture.Height(), c.height);
    // From a stream: the same picture, and saved as it was loaded.
    std::unique_ptr<fw::TGraphic> g = fw::TPicture::FindGraphicClass(c.file.substr(c.file.rfind('.') + 1))();
    Load(*g, c.bytes);
    EXPECT_EQ(g->Width(), c.width);
    fw::TMemoryStream out;
    g->SaveToStream(out);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<std::size_t>(out.Size())), c.bytes);
    // Drawn at its own size and at twice its size.
    for (int scale : {1, 2}) {
      const QImage img = DrawnOnWhite(*picture.Graphic(), c.width * scale, c.height * scale);
      for (const Probe& p : c.probes)
        EXPECT_TRUE(Near(img.pixel(p.x * scale, p.y * scale), p.color))
            << "scale " << scale << " at " << p.x << "," << p.y << ": " << std::hex << img.pixel(p.x * scale, p.y * scale);
      if (c.text) {
        EXPECT_GT(DarkShare(img, QRect(20 * scale, 135 * scale, 60 * scale, 40 * scale)), 100) << "scale " << scale;
        EXPECT_EQ(DarkShare(img, QRect(120 * scale, 130 * scale, 60 * scale, 60 * scale)), 0) << "scale " << scale;
      }
    }
  }
}

// libwmf maps every font name to one of the PostScript standard fonts,
// which the reader maps to files; a name it does not know falls back to
// Times.
TEST(Metafile, WmfTextDrawsInEveryStandardFontAndStyle) {
  const struct {
    const char* face;
    int weight;
    bool italic;
  } fonts[] = {{"Arial", 400, false},          {"Arial", 700, true},        {"Times New Roman", 400, true},
               {"Times New Roman", 700, false}, {"Courier New", 400, true}, {"Courier New", 700, true},
               {"Symbol", 400, false},         {"No Such Font", 400, true}};
  WmfWriter all(200, 40 * std::size(fonts), 96);
  for (std::size_t i = 0; i < std::size(fonts); ++i) {
    SCOPED_TRACE(fonts[i].face);
    WmfWriter one(200, 40, 96);
    for (WmfWriter* w : {&one, &all}) {
      const int font = w->CreateFont(30, fonts[i].face, fonts[i].weight, fonts[i].italic);
      w->Select(font);
      w->Text(5, w == &one ? 5 : 5 + 40 * static_cast<int>(i), "Wg");
      w->Delete(font);
    }
    fw::TMetafile m;
    Load(m, one.Bytes());
    EXPECT_GT(DarkShare(DrawnOnWhite(m, 200, 40), QRect(5, 5, 60, 32)), 50);
  }
  // One file of them all: each face loaded once.
  fw::TMetafile m;
  Load(m, all.Bytes());
  const QImage img = DrawnOnWhite(m, 200, 40 * std::size(fonts));
  for (std::size_t i = 0; i < std::size(fonts); ++i)
    EXPECT_GT(DarkShare(img, QRect(5, 5 + 40 * static_cast<int>(i), 60, 32)), 50) << fonts[i].face;
}

TEST(IconAndMetafile, DamagedFilesAreRefusedAndThePictureStays) {
  GuiApplication::Ensure();
  const std::string ico = IcoFile({{Solid(8, 8, Qt::blue)}, {Halves(16, 16)}});
  const std::size_t second_image = 6 + 2 * 16 + 40 + 8 * 8 * 4 + 8 * 4;  // after the 8 x 8 image and its mask
  const std::string png_ico = IcoFile({{Solid(8, 8, Qt::blue)}, {Halves(16, 16), true}});
  const std::string wmf = WmfScene(96), emf = EmfScene();
  const std::string bad_icon = "Icon image is not valid", bad = "Metafile is not valid";
  const struct Case {
    const char* name;
    bool icon;
    std::string bytes;
    std::string message;
  } cases[] = {
      {"empty icon", true, "", bad_icon},
      {"icon cut in its pixels", true, ico.substr(0, ico.size() - 100), bad_icon},
      {"icon directory only", true, ico.substr(0, 6 + 2 * 16), bad_icon},
      {"icon of no images", true, std::string("\0\0\1\0\0\0", 6), bad_icon},
      {"cursor file", true, With16(ico, 2, 2), bad_icon},
      {"image before the directory's end", true, With32(ico, 6 + 16 + 12, 20), bad_icon},
      {"image past the end", true, With32(ico, 6 + 16 + 12, static_cast<std::uint32_t>(ico.size() - 10)), bad_icon},
      {"image of 3 bits a pixel", true, With16(ico, second_image + 14, 3), bad_icon},
      {"PNG image damaged", true, With32(png_ico, png_ico.size() - 30, 0xDEADBEEF), bad_icon},
      {"empty metafile", false, "", bad},
      {"not a metafile", false, "GIF89a\1\0\1\0", bad},
      {"WMF header only", false, wmf.substr(0, 40), bad + " (cut short)"},
      {"WMF cut in its records", false, wmf.substr(0, wmf.size() / 2), bad + " (cut short)"},
      {"WMF without its end record", false, wmf.substr(0, wmf.size() - 6), bad + " (cut short)"},
      {"WMF record of no size", false, With32(wmf, 40, 0), bad + " (bad record size at byte 40)"},
      {"WMF header of another size", false, With16(wmf, 22 + 2, 10), bad + " (bad header)"},
      {"WMF box at 0 units an inch", false, With16(wmf, 14, 0), bad + " (empty picture box)"},
      {"WMF box too large", false, testsupport::WmfWriter(30000, 20000, 1).Bytes(),
       "Metafile is too large (2880000 x 1920000)"},
      // What the libraries find wrong in a record's parameters.
      {"WMF polygon of more points than its record holds", false,
       [] {
         WmfWriter w(100, 100, 96);
         w.Record(0x0324, {1000, 1, 2, 3, 4});
         return w.Bytes();
       }(),
       bad + " (bad record)"},
      {"WMF selecting an object never made", false,
       [] {
         WmfWriter w(100, 100, 96);
         w.Select(55);
         return w.Bytes();
       }(),
       bad + " (bad record)"},
      {"WMF bitmap whose header has no size", false,
       [] {
         WmfWriter w(100, 100, 96);
         std::string dib = testsupport::Dib24(testsupport::Quarters());
         dib.replace(0, 4, std::string(4, '\0'));
         w.StretchDibBytes(0, 0, 10, 10, 2, 2, dib);
         return w.Bytes();
       }(),
       bad + " (bad record)"},
      {"WMF bitmap of more pixels than its record holds", false,
       [] {
         WmfWriter w(100, 100, 96);
         w.StretchDibBytes(0, 0, 10, 10, 2, 2, With32(testsupport::Dib24(testsupport::Quarters()), 4, 5000));
         return w.Bytes();
       }(),
       bad + " (bad record)"},
      {"EMF polygon of more points than its record holds", false,
       [] {
         EmfWriter e(100, 100);
         e.Record(86, {0, 0, 10, 10, 100000, 1, 2});  // EMR_POLYGON16
         return e.Bytes();
       }(),
       bad + " (bad record)"},
      {"EMF bitmap past its record", false,
       [] {
         EmfWriter e(100, 100);  // EMR_STRETCHDIBITS
         e.Record(81, {0, 0, 10, 10, 0, 0, 0, 0, 5000, 5000, 80, 40, 120, 99999, 0, 0xCC0020, 10, 10});
         return e.Bytes();
       }(),
       bad + " (bad record)"},
      {"EMF cut in its records", false, emf.substr(0, emf.size() / 2), bad + " (cut short)"},
      {"EMF without its end record", false, emf.substr(0, emf.size() - 20), bad + " (cut short)"},
      {"EMF record of 6 bytes", false, With32(emf, 88 + 4, 6), bad + " (bad record size at byte 88)"},
      {"EMF without frame and bounds", false, With32(With32(emf, 16, 0), 32, 0), bad + " (empty picture)"},
      {"EMF without its signature", false, With32(emf, 40, 0), bad},
      {"EMF bounds reversed past int", false, With32(With32(With32(emf, 32, 0), 8, 0x7FFFFFFF), 16, 0x80000000),
       bad + " (empty picture)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<fw::TGraphic> g;
    if (c.icon) {
      g = std::make_unique<fw::TIcon>();
    } else {
      g = std::make_unique<fw::TMetafile>();
    }
    Load(*g, c.icon ? ico : wmf);
    const int width = g->Width();
    EXPECT_EQ(testsupport::ErrorText<fw::EInvalidGraphic>([&] { Load(*g, c.bytes); }), c.message);
    EXPECT_EQ(g->Width(), width);
  }
}

}  // namespace
