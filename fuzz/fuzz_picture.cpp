// libFuzzer target for the icon and metafile picture classes: any bytes
// are loaded as an icon and as a metafile (WMF through libwmf, EMF through
// libemf2svg and Qt SVG, the kind taken from the bytes); whatever loads
// must report a size and is drawn again at another size.
//
// Seed corpus (fuzz/corpus/fuzz_picture): icons of DIB and PNG images,
// placeable and plain WMF files, EMF files, each of a few records (a
// rectangle, an ellipse, a pie, a stretched bitmap, text), and cut-off
// copies. fuzz/fuzz_picture.lsan.supp leaves out fontconfig's allocations
// (scripts/run_fuzz.sh passes it on).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QGuiApplication>

#include "framework/gui/bitmap.h"
#include "framework/gui/canvas.h"
#include "framework/gui/icon.h"
#include "framework/gui/metafile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // EMF text is drawn with the application's fonts.
  static int argc = 1;
  static char arg0[] = "fuzz_picture";
  static char* argv[] = {arg0, nullptr};
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
  return 0;
}

namespace {

void Try(fw::TGraphic& g, const std::uint8_t* data, std::size_t size) {
  fw::TMemoryStream s;
  s.WriteBuffer(data, static_cast<std::int64_t>(size));
  s.SetPosition(0);
  try {
    g.LoadFromStream(s);
  } catch (const fw::Exception&) {
    return;
  }
  if (g.Empty() || g.Width() <= 0 || g.Height() <= 0) __builtin_trap();
  fw::TBitmap b;
  b.SetPixelFormat(fw::TPixelFormat::pf32bit);
  b.SetSize(37, 23);
  b.Canvas().StretchDraw(fw::Rect(0, 0, 37, 23), g);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fw::TIcon icon;
  Try(icon, data, size);
  fw::TMetafile metafile;
  Try(metafile, data, size);
  return 0;
}
