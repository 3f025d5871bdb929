// libwmf's headers define macros (U8, U16, U32, ...) that clash with Qt's
// own names: every Qt header comes first.
#include <QImage>
#include <QPainter>
#include <QTransform>

#include <cmath>
#include <cstdlib>

#include "platform/little_endian.h"
#include "framework/gui/picture_size.h"
#include "framework/gui/wmf_device.h"
#include "framework/gui/wmf_reader.h"

extern "C" {
#include <libwmf/api.h>
}

namespace fw::wmf {

namespace {

constexpr std::size_t kPlaceableSize = 22;
constexpr std::size_t kHeaderSize = 18;
constexpr unsigned kSetWindowOrg = 0x020B;
constexpr unsigned kEof = 0x0000;
// libwmf's device units for a placeable file: points.
constexpr double kDevicePerInch = 72;
constexpr double kPixelsPerInch = 96;

unsigned Get16(std::span<const std::uint8_t> b, std::size_t at) {
  return platform::LoadLittle<std::uint16_t>(b.data() + at);
}
std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
  return platform::LoadLittle<std::uint32_t>(b.data() + at);
}
int GetS16(std::span<const std::uint8_t> b, std::size_t at) { return static_cast<std::int16_t>(Get16(b, at)); }

bool GoodHeader(std::span<const std::uint8_t> b, std::size_t at) {
  if (b.size() < at + kHeaderSize) return false;
  const unsigned type = Get16(b, at), words = Get16(b, at + 2), version = Get16(b, at + 4);
  return (type == 1 || type == 2) && words == kHeaderSize / 2 && (version == 0x0100 || version == 0x0300);
}

struct Layout {
  bool placeable = false;
  int box_left = 0, box_top = 0, box_width = 0, box_height = 0;
  int inch = 0;
  // The first META_SETWINDOWORG: libwmf's device origin.
  int origin_x = 0, origin_y = 0;
};

std::string CheckLayout(std::span<const std::uint8_t> b, Layout& out) {
  std::size_t at = 0;
  if (b.size() >= 4 && Get32(b, 0) == kPlaceableKey) {
    if (b.size() < kPlaceableSize) return "cut short";
    out.placeable = true;
    const int left = GetS16(b, 6), top = GetS16(b, 8), right = GetS16(b, 10), bottom = GetS16(b, 12);
    out.box_left = std::min(left, right);
    out.box_top = std::min(top, bottom);
    out.box_width = std::abs(right - left);
    out.box_height = std::abs(bottom - top);
    out.inch = static_cast<int>(Get16(b, 14));
    if (out.inch == 0 || out.box_width == 0 || out.box_height == 0) return "empty picture box";
    at = kPlaceableSize;
  }
  if (b.size() < at + kHeaderSize) return "cut short";
  if (!GoodHeader(b, at)) return "bad header";
  at += kHeaderSize;
  bool origin_seen = false;
  // (2), (3): each step moves on by at least 6 bytes.
  while (true) {
    if (b.size() - at < 6) return "cut short";
    const std::uint32_t words = Get32(b, at);
    const unsigned function = Get16(b, at + 4);
    if (words < 3) return "bad record size at byte " + std::to_string(at);
    if (words > (b.size() - at) / 2) return "cut short";
    if (function == kSetWindowOrg && words >= 5 && !origin_seen) {
      out.origin_y = GetS16(b, at + 6);
      out.origin_x = GetS16(b, at + 8);
      origin_seen = true;
    }
    if (function == kEof) return "";
    at += static_cast<std::size_t>(words) * 2;
  }
}

std::string ErrorText(wmf_error_t e) {
  switch (e) {
    case wmf_E_InsMem:
      return "too much memory needed";
    case wmf_E_EOF:
      return "cut short";
    case wmf_E_DeviceError:
      return "drawing failed";
    default:
      return "bad record";
  }
}

// libwmf's allocations, counted against kMaxMemory. Each block starts
// with its size.
struct Memory {
  std::size_t live = 0;
};
struct alignas(std::max_align_t) BlockHeader {
  std::size_t size;
};

void* Allocate(void* context, std::size_t size) {
  auto* m = static_cast<Memory*>(context);
  if (size > kMaxMemory - m->live) return nullptr;
  auto* block = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
  if (block == nullptr) return nullptr;
  block->size = size;
  m->live += size;
  return block + 1;
}

void Release(void* context, void* mem) {
  if (mem == nullptr) return;
  auto* m = static_cast<Memory*>(context);
  BlockHeader* block = static_cast<BlockHeader*>(mem) - 1;
  m->live -= block->size;
  std::free(block);
}

void* Reallocate(void* context, void* mem, std::size_t size) {
  if (mem == nullptr) return Allocate(context, size);
  auto* m = static_cast<Memory*>(context);
  BlockHeader* block = static_cast<BlockHeader*>(mem) - 1;
  const std::size_t old = block->size;
  if (size > old && size - old > kMaxMemory - m->live) return nullptr;
  auto* moved = static_cast<BlockHeader*>(std::realloc(block, sizeof(BlockHeader) + size));
  if (moved == nullptr) return nullptr;
  moved->size = size;
  m->live = m->live - old + size;
  return moved + 1;
}

// libwmf names a font for the text of a record by one of the thirteen
// PostScript standard names and looks the name up here. Without this map
// it wants the URW Type 1 fonts (fonts-urw-base35), whose fontconfig
// aliases would also change the font of every "Arial" text the program
// draws. Each name needs a file of its own: libwmf fails to load a font
// whose file another name has loaded already. The Symbol font's own
// characters are not drawn as such (its codes come out as Latin letters).
char kFontDir[] = "/usr/share/fonts/truetype/dejavu";
char* kFontDirs[] = {kFontDir, nullptr};

wmfMapping kFontFiles[] = {
    {const_cast<char*>("Helvetica"), const_cast<char*>("DejaVuSans.ttf"), FT_ENCODING_NONE},
    {const_cast<char*>("Helvetica-Oblique"), const_cast<char*>("DejaVuSans-Oblique.ttf"), FT_ENCODING_NONE},
    {const_cast<char*>("Helvetica-Bold"), const_cast<char*>("DejaVuSans-Bold.ttf"), FT_ENCODING_NONE},
    {const_cast<char*>("Helvetica-BoldOblique"), const_cast<char*>("DejaVuSans-BoldOblique.ttf"), FT_ENCODING_NONE},
    {const_cast<char*>("Times-Roman"), const_cast<char*>("DejaVuSerif.ttf"), FT_ENCODING_NONE},
    {const_cast<char*>("Times-Italic"), const_cast<char*>("DejaVuSerif-Italic.ttf"), FT_ENCODING_NONE},
    {const_cast<char*>("Times-Bold"), const_cast<char*>("DejaVuSerif-Bold.ttf"), FT_ENCODING_NONE},
    {const_cast<char*>("Times-BoldItalic"), const_cast<char*>("DejaVuSerif-BoldItalic.ttf"), FT_ENCODING_NONE},
    {const_cast<char*>("Courier"), const_cast<char*>("DejaVuSansMono.ttf"), FT_ENCODING_NONE},
    {const_cast<char*>("Courier-Oblique"), const_cast<char*>("DejaVuSansMono-Oblique.ttf"), FT_ENCODING_NONE},
    {const_cast<char*>("Courier-Bold"), const_cast<char*>("DejaVuSansMono-Bold.ttf"), FT_ENCODING_NONE},
    {const_cast<char*>("Courier-BoldOblique"), const_cast<char*>("DejaVuSansMono-BoldOblique.ttf"), FT_ENCODING_NONE},
    {const_cast<char*>("Symbol"), const_cast<char*>("DejaVuSansCondensed.ttf"), FT_ENCODING_NONE},
    {nullptr, nullptr, FT_ENCODING_NONE}};
// No Windows font names beyond those libwmf knows itself.
wmfFontMap kNoFontNames[] = {{nullptr, nullptr, nullptr, nullptr, nullptr}};
wmfMapping kNoSubstitutes[] = {{nullptr, nullptr, FT_ENCODING_NONE}};

// One libwmf API object with a file opened in it and scanned.
class Session {
 public:
  explicit Session(std::span<const std::uint8_t> bytes) {
    wmfAPI_Options options{};
    options.context = &memory_;
    options.malloc = Allocate;
    options.realloc = Reallocate;
    options.free = Release;
    options.function = InstallDevice;
    options.fontdirs = kFontDirs;
    options.font.wmf = kNoFontNames;
    options.font.sub = kNoSubstitutes;
    options.font.ps = kFontFiles;
    const unsigned long flags = WMF_OPT_ALLOC | WMF_OPT_FUNCTION | WMF_OPT_FONTDIRS | WMF_OPT_FONTMAP |
                                WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    if (wmf_api_create(&api_, flags, &options) != wmf_E_None || api_ == nullptr || api_->device_data == nullptr) {
      error_ = "too much memory needed";
      return;
    }
    // libwmf only reads the bytes.
    wmf_error_t e = wmf_mem_open(api_, const_cast<unsigned char*>(bytes.data()), static_cast<long>(bytes.size()));
    if (e == wmf_E_None) e = wmf_scan(api_, 0, &box_);
    if (e != wmf_E_None) error_ = ErrorText(e);
  }
  ~Session() {
    if (api_ != nullptr) wmf_api_destroy(api_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const std::string& Error() const { return error_; }
  wmfAPI* Api() const { return api_; }
  // What the records draw, in device units.
  wmfD_Rect& Box() { return box_; }

 private:
  Memory memory_;  // outlives api_
  wmfAPI* api_ = nullptr;
  wmfD_Rect box_{};
  std::string error_;
};

struct Geometry {
  QRectF device;  // the picture in libwmf's device units
  int width = 0;  // pixels at 96 per inch
  int height = 0;
};

std::string Measure(Session& session, const Layout& layout, Geometry& g) {
  if (layout.placeable) {
    const double scale = kDevicePerInch / layout.inch;
    g.device = QRectF((layout.box_left - layout.origin_x) * scale, (layout.box_top - layout.origin_y) * scale,
                      layout.box_width * scale, layout.box_height * scale);
    g.width = WholePixels(layout.box_width * kPixelsPerInch / layout.inch);
    g.height = WholePixels(layout.box_height * kPixelsPerInch / layout.inch);
  } else {
    const wmfD_Rect& b = session.Box();
    g.device = QRectF(QPointF(b.TL.x, b.TL.y), QPointF(b.BR.x, b.BR.y));
    g.width = WholePixels(g.device.width());
    g.height = WholePixels(g.device.height());
  }
  if (!g.device.isValid() || !std::isfinite(g.device.width()) || !std::isfinite(g.device.height()) || g.width < 1 ||
      g.height < 1)
    return "empty picture";
  return "";
}

}  // namespace

bool LooksLikeWmf(std::span<const std::uint8_t> bytes) {
  return (bytes.size() >= 4 && Get32(bytes, 0) == kPlaceableKey) || GoodHeader(bytes, 0);
}

std::string ReadSize(std::span<const std::uint8_t> bytes, int& width, int& height) {
  Layout layout;
  if (std::string e = CheckLayout(bytes, layout); !e.empty()) return e;
  Session session(bytes);
  if (!session.Error().empty()) return session.Error();
  Geometry g;
  if (std::string e = Measure(session, layout, g); !e.empty()) return e;
  width = g.width;
  height = g.height;
  return "";
}

std::string Play(std::span<const std::uint8_t> bytes, int width, int height, QImage& out) {
  Layout layout;
  if (std::string e = CheckLayout(bytes, layout); !e.empty()) return e;
  Session session(bytes);
  if (!session.Error().empty()) return session.Error();
  Geometry g;
  if (std::string e = Measure(session, layout, g); !e.empty()) return e;
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return "too much memory needed";
  image.fill(Qt::transparent);
  wmf_error_t e = wmf_E_None;
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double sx = width / g.device.width(), sy = height / g.device.height();
    painter.setWorldTransform(QTransform(sx, 0, 0, sy, -g.device.left() * sx, -g.device.top() * sy));
    SetDevicePainter(session.Api(), &painter);
    e = wmf_play(session.Api(), 0, &session.Box());
    SetDevicePainter(session.Api(), nullptr);
  }
  if (e != wmf_E_None) return ErrorText(e);
  out = std::move(image);
  return "";
}

}  // namespace fw::wmf
