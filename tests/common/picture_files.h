// Icon and metafile pictures made by the tests themselves, byte by byte
// from the published layouts of the formats (not through the libraries
// that read them), so that a reader is checked against the layout and not
// against its own writer.
//
//   ICO  ICONDIR (reserved 0, type 1, count), count ICONDIRENTRY (width,
//        height, colours, reserved, planes, bit count, bytes, offset), then
//        each image: a DIB (BITMAPINFOHEADER with twice the height, rows
//        bottom-up, then the 1-bit AND mask) or a whole PNG file.
//   WMF  [placeable header: key 9AC6CDD7, handle, box, units per inch,
//        reserved, XOR checksum of the ten words before it] META_HEADER
//        (type, 9, version, size in words, objects, largest record,
//        members), records (size in words, function, parameters), META_EOF.
//   EMF  EMR_HEADER (bounds, frame in 0.01 mm, " EMF", version, bytes,
//        records, handles, ..., reference device in pixels and mm),
//        records (type, size in bytes, parameters), EMR_EOF.
//
// All little-endian. Colours are given as 0xRRGGBB.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <QBuffer>
#include <QByteArray>
#include <QImage>

namespace testsupport {

class LeBytes {
 public:
  void Put8(unsigned v) { out_.push_back(static_cast<char>(v & 0xFF)); }
  void Put16(unsigned v) {
    Put8(v);
    Put8(v >> 8);
  }
  void Put32(std::uint32_t v) {
    Put16(v & 0xFFFF);
    Put16(v >> 16);
  }
  void PutI16(int v) { Put16(static_cast<unsigned>(v) & 0xFFFF); }
  void PutI32(int v) { Put32(static_cast<std::uint32_t>(v)); }
  void PutF32(float v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    Put32(u);
  }
  void Raw(const std::string& s) { out_ += s; }
  void Patch16(std::size_t at, unsigned v) {
    out_[at] = static_cast<char>(v & 0xFF);
    out_[at + 1] = static_cast<char>((v >> 8) & 0xFF);
  }
  void Patch32(std::size_t at, std::uint32_t v) {
    Patch16(at, v & 0xFFFF);
    Patch16(at + 2, v >> 16);
  }
  std::size_t Size() const { return out_.size(); }
  const std::string& Str() const { return out_; }

 private:
  std::string out_;
};

// COLORREF: red in the lowest byte.
inline std::uint32_t ColorRef(std::uint32_t rgb) {
  return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
}

// ---- ICO ----

struct IconImage {
  QImage image;
  bool png = false;  // stored as a PNG file instead of a DIB
};

inline std::string IcoFile(const std::vector<IconImage>& images) {
  std::vector<std::string> data;
  for (const IconImage& im : images) {
    const QImage argb = im.image.convertToFormat(QImage::Format_ARGB32);
    if (im.png) {
      QByteArray b;
      QBuffer buf(&b);
      buf.open(QIODevice::WriteOnly);
      argb.save(&buf, "PNG");
      data.emplace_back(b.constData(), static_cast<std::size_t>(b.size()));
      continue;
    }
    const int w = argb.width(), h = argb.height();
    LeBytes d;
    d.Put32(40);
    d.PutI32(w);
    d.PutI32(h * 2);  // XOR rows and AND rows
    d.Put16(1);
    d.Put16(32);
    d.Put32(0);  // BI_RGB
    d.Put32(0);
    d.PutI32(0);
    d.PutI32(0);
    d.Put32(0);
    d.Put32(0);
    for (int y = h - 1; y >= 0; --y)
      for (int x = 0; x < w; ++x) d.Put32(argb.pixel(x, y));
    const int mask_row = ((w + 31) / 32) * 4;
    for (int y = h - 1; y >= 0; --y) {
      std::vector<unsigned> row(static_cast<std::size_t>(mask_row), 0);
      for (int x = 0; x < w; ++x)
        if (qAlpha(argb.pixel(x, y)) == 0) row[static_cast<std::size_t>(x / 8)] |= 0x80u >> (x % 8);
      for (unsigned v : row) d.Put8(v);
    }
    data.push_back(d.Str());
  }
  LeBytes f;
  f.Put16(0);
  f.Put16(1);
  f.Put16(static_cast<unsigned>(images.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    const QImage& im = images[i].image;
    f.Put8(im.width() >= 256 ? 0 : static_cast<unsigned>(im.width()));
    f.Put8(im.height() >= 256 ? 0 : static_cast<unsigned>(im.height()));
    f.Put8(0);
    f.Put8(0);
    f.Put16(1);
    f.Put16(32);
    f.Put32(static_cast<std::uint32_t>(data[i].size()));
    f.Put32(offset);
    offset += static_cast<std::uint32_t>(data[i].size());
  }
  for (const std::string& d : data) f.Raw(d);
  return f.Str();
}

// A BITMAPINFOHEADER and 24-bit rows, bottom-up, each padded to 4 bytes
// (an even size in all).
inline std::string Dib24(const QImage& picture) {
  const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
  LeBytes d;
  const int row = (rgb.width() * 3 + 3) / 4 * 4;
  for (std::uint32_t v : {40u, static_cast<std::uint32_t>(rgb.width()), static_cast<std::uint32_t>(rgb.height())})
    d.Put32(v);
  d.Put16(1);
  d.Put16(24);
  for (std::uint32_t v : {0u, static_cast<std::uint32_t>(row * rgb.height()), 0u, 0u, 0u, 0u}) d.Put32(v);
  for (int y = rgb.height() - 1; y >= 0; --y) {
    for (int x = 0; x < rgb.width(); ++x) {
      const QRgb c = rgb.pixel(x, y);
      d.Put8(static_cast<unsigned>(qBlue(c)));
      d.Put8(static_cast<unsigned>(qGreen(c)));
      d.Put8(static_cast<unsigned>(qRed(c)));
    }
    for (int pad = rgb.width() * 3; pad < row; ++pad) d.Put8(0);
  }
  return d.Str();
}

// ---- WMF ----

class WmfWriter {
 public:
  // Logical coordinates: a window of width x height units at (0, 0). With
  // units_per_inch > 0 the file gets a placeable header whose box is the
  // window.
  WmfWriter(int width, int height, int units_per_inch = 0) : w_(width), h_(height), inch_(units_per_inch) {
    Record(0x020B, {0, 0});  // META_SETWINDOWORG y, x
    Record(0x020C, {height, width});  // META_SETWINDOWEXT y, x
    Record(0x0102, {1});  // META_SETBKMODE TRANSPARENT
  }

  // Each Create* returns the object's index (the lowest free one).
  int CreateBrush(std::uint32_t rgb) {
    const std::uint32_t c = ColorRef(rgb);
    Record(0x02FC, {0, static_cast<int>(c & 0xFFFF), static_cast<int>(c >> 16), 0});
    return NewObject();
  }
  // A solid pen, or no pen with width < 0.
  int CreatePen(std::uint32_t rgb, int width) {
    const std::uint32_t c = ColorRef(rgb);
    Record(0x02FA, {width < 0 ? 5 : 0, width < 0 ? 0 : width, 0, static_cast<int>(c & 0xFFFF),
                    static_cast<int>(c >> 16)});
    return NewObject();
  }
  int CreateFont(int height, const std::string& face, int weight = 400, bool italic = false) {
    // Height, width, escapement, orientation, weight; then byte pairs:
    // italic|underline, strikeout|charset, precisions, quality|pitch; then
    // the 32-byte face name.
    std::vector<int> p = {-height, 0, 0, 0, weight, italic ? 1 : 0, 0, 0, 0};
    std::string name = face;
    name.resize(32, '\0');
    for (std::size_t i = 0; i < name.size(); i += 2)
      p.push_back(static_cast<unsigned char>(name[i]) | (static_cast<unsigned char>(name[i + 1]) << 8));
    Record(0x02FB, p);
    return NewObject();
  }
  void Select(int object) { Record(0x012D, {object}); }
  void Delete(int object) {
    Record(0x01F0, {object});
    objects_[static_cast<std::size_t>(object)] = false;
  }
  void Rectangle(int left, int top, int right, int bottom) { Record(0x041B, {bottom, right, top, left}); }
  void Ellipse(int left, int top, int right, int bottom) { Record(0x0418, {bottom, right, top, left}); }
  // The pie of the ellipse in the box from the ray through (xs, ys)
  // counter-clockwise to the ray through (xe, ye).
  void Pie(int left, int top, int right, int bottom, int xs, int ys, int xe, int ye) {
    Record(0x081A, {ye, xe, ys, xs, bottom, right, top, left});
  }
  // META_STRETCHDIB of a 24-bit DIB of the picture, SRCCOPY.
  void StretchDib(int x, int y, int w, int h, const QImage& picture) {
    StretchDibBytes(x, y, w, h, picture.width(), picture.height(), Dib24(picture));
  }
  // The same with the DIB's bytes as given (an even number of them).
  void StretchDibBytes(int x, int y, int w, int h, int source_w, int source_h, const std::string& dib) {
    std::vector<int> p = {0x0020, 0x00CC, 0, source_h, source_w, 0, 0, h, w, y, x};
    for (std::size_t i = 0; i < dib.size(); i += 2)
      p.push_back(static_cast<unsigned char>(dib[i]) | (static_cast<unsigned char>(dib[i + 1]) << 8));
    Record(0x0F43, p);
  }
  void Polygon(const std::vector<std::pair<int, int>>& points) {
    std::vector<int> p = {static_cast<int>(points.size())};
    for (const auto& [x, y] : points) {
      p.push_back(x);
      p.push_back(y);
    }
    Record(0x0324, p);
  }
  void TextColor(std::uint32_t rgb) {
    const std::uint32_t c = ColorRef(rgb);
    Record(0x0209, {static_cast<int>(c & 0xFFFF), static_cast<int>(c >> 16)});
  }
  // Top-left aligned text at (x, y).
  void Text(int x, int y, const std::string& text) {
    std::vector<int> p = {static_cast<int>(text.size())};
    std::string s = text;
    if (s.size() % 2) s.push_back('\0');
    for (std::size_t i = 0; i < s.size(); i += 2)
      p.push_back(static_cast<unsigned char>(s[i]) | (static_cast<unsigned char>(s[i + 1]) << 8));
    p.push_back(y);
    p.push_back(x);
    Record(0x0521, p);
  }
  // A record as it stands in the file, for damaged ones.
  void Record(unsigned function, const std::vector<int>& params) {
    records_.Put32(static_cast<std::uint32_t>(3 + params.size()));
    records_.Put16(function);
    for (int v : params) records_.PutI16(v);
    max_record_ = std::max<std::size_t>(max_record_, 3 + params.size());
  }

  std::string Bytes() const {
    LeBytes f;
    if (inch_ > 0) {
      f.Put32(0x9AC6CDD7);
      f.Put16(0);
      f.PutI16(0);
      f.PutI16(0);
      f.PutI16(w_);
      f.PutI16(h_);
      f.Put16(static_cast<unsigned>(inch_));
      f.Put32(0);
      unsigned sum = 0;
      for (std::size_t i = 0; i < 20; i += 2)
        sum ^= static_cast<unsigned char>(f.Str()[i]) | (static_cast<unsigned char>(f.Str()[i + 1]) << 8);
      f.Put16(sum);
    }
    const std::size_t words = 9 + records_.Size() / 2 + 3;
    f.Put16(1);
    f.Put16(9);
    f.Put16(0x0300);
    f.Put32(static_cast<std::uint32_t>(words));
    f.Put16(static_cast<unsigned>(objects_.size()));
    f.Put32(static_cast<std::uint32_t>(std::max<std::size_t>(max_record_, 3)));
    f.Put16(0);
    f.Raw(records_.Str());
    f.Put32(3);  // META_EOF
    f.Put16(0);
    return f.Str();
  }

 private:
  int NewObject() {
    for (std::size_t i = 0; i < objects_.size(); ++i)
      if (!objects_[i]) {
        objects_[i] = true;
        return static_cast<int>(i);
      }
    objects_.push_back(true);
    return static_cast<int>(objects_.size() - 1);
  }
  int w_, h_, inch_;
  LeBytes records_;
  std::size_t max_record_ = 0;
  std::vector<bool> objects_;
};

// ---- EMF ----

class EmfWriter {
 public:
  // Logical units are pixels of a 96 ppi reference device; the picture is
  // width x height of them at (0, 0).
  EmfWriter(int width, int height) : w_(width), h_(height) {}

  int CreateBrush(std::uint32_t rgb) {
    const std::uint32_t ih = ++handles_;
    Record(39, {ih, 0, ColorRef(rgb), 0});
    return static_cast<int>(ih);
  }
  // A solid pen, or no pen with width < 0.
  int CreatePen(std::uint32_t rgb, int width) {
    const std::uint32_t ih = ++handles_;
    Record(38, {ih, width < 0 ? 5u : 0u, static_cast<std::uint32_t>(std::max(width, 0)), 0, ColorRef(rgb)});
    return static_cast<int>(ih);
  }
  int CreateFont(int height, const std::string& face) {
    const std::uint32_t ih = ++handles_;
    std::vector<std::uint32_t> p = {ih, static_cast<std::uint32_t>(-height), 0, 0, 0, 400, 0, 0};
    std::u16string name(face.begin(), face.end());
    name.resize(32, u'\0');
    for (std::size_t i = 0; i < name.size(); i += 2) p.push_back(name[i] | (static_cast<std::uint32_t>(name[i + 1]) << 16));
    Record(82, p);
    return static_cast<int>(ih);
  }
  void Select(std::uint32_t object) { Record(37, {object}); }
  static constexpr std::uint32_t kNullPen = 0x80000008;
  void Delete(int object) { Record(40, {static_cast<std::uint32_t>(object)}); }
  // Inclusive boxes, as the records hold them.
  void Rectangle(int left, int top, int right, int bottom) { Record(43, Box(left, top, right, bottom)); }
  void Ellipse(int left, int top, int right, int bottom) { Record(42, Box(left, top, right, bottom)); }
  void TextColor(std::uint32_t rgb) { Record(24, {ColorRef(rgb)}); }
  // EMR_STRETCHDIBITS of a 24-bit DIB of the picture, SRCCOPY.
  void StretchDib(int x, int y, int w, int h, const QImage& picture) {
    const std::string dib = Dib24(picture);
    const auto u = [](int v) { return static_cast<std::uint32_t>(v); };
    std::vector<std::uint32_t> p = Box(x, y, x + w - 1, y + h - 1);
    for (std::uint32_t v : {u(x), u(y), 0u, 0u, u(picture.width()), u(picture.height()), 80u, 40u, 120u,
                            static_cast<std::uint32_t>(dib.size() - 40), 0u, 0x00CC0020u, u(w), u(h)})
      p.push_back(v);
    std::string bytes = dib;
    bytes.resize((bytes.size() + 3) / 4 * 4, '\0');
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
      std::uint32_t v = 0;
      std::memcpy(&v, bytes.data() + i, 4);
      p.push_back(v);
    }
    Record(81, p);
  }
  void BkModeTransparent() { Record(18, {1}); }
  // Top-left aligned text at (x, y), as EMR_EXTTEXTOUTW with the given
  // options (0x10: the text holds glyph indices).
  void Text(int x, int y, const std::string& text, std::uint32_t options = 0) {
    std::vector<std::uint32_t> p = Box(x, y, x + 1000, y + 100);  // bounds
    p.push_back(1);                                                // GM_COMPATIBLE
    float one = 1.0f;
    std::uint32_t f;
    std::memcpy(&f, &one, 4);
    p.push_back(f);
    p.push_back(f);
    p.push_back(static_cast<std::uint32_t>(x));
    p.push_back(static_cast<std::uint32_t>(y));
    p.push_back(static_cast<std::uint32_t>(text.size()));
    const std::uint32_t string_at = 76;
    const std::uint32_t string_words = static_cast<std::uint32_t>((text.size() * 2 + 3) / 4);
    p.push_back(string_at);
    p.push_back(options);
    for (int v : {0, 0, -1, -1}) p.push_back(static_cast<std::uint32_t>(v));
    p.push_back(string_at + string_words * 4);  // offDx
    std::u16string s(text.begin(), text.end());
    if (s.size() % 2) s.push_back(u'\0');
    for (std::size_t i = 0; i < s.size(); i += 2) p.push_back(s[i] | (static_cast<std::uint32_t>(s[i + 1]) << 16));
    for (std::size_t i = 0; i < text.size(); ++i) p.push_back(0);  // no spacing given
    Record(84, p);
  }
  void Record(std::uint32_t type, const std::vector<std::uint32_t>& params) {
    records_.Put32(type);
    records_.Put32(static_cast<std::uint32_t>(8 + 4 * params.size()));
    for (std::uint32_t v : params) records_.Put32(v);
    ++count_;
  }

  std::string Bytes() const {
    LeBytes f;
    const std::uint32_t total = 88 + static_cast<std::uint32_t>(records_.Size()) + 20;
    f.Put32(1);
    f.Put32(88);
    for (int v : {0, 0, w_ - 1, h_ - 1}) f.PutI32(v);  // bounds, pixels
    // Frame in 0.01 mm: 96 pixels to the inch.
    for (int v : {0, 0, (w_ * 2540 + 48) / 96 - 1, (h_ * 2540 + 48) / 96 - 1}) f.PutI32(v);
    f.Put32(0x464D4520);
    f.Put32(0x10000);
    f.Put32(total);
    f.Put32(static_cast<std::uint32_t>(count_ + 2));
    f.Put16(static_cast<unsigned>(handles_ + 1));
    f.Put16(0);
    f.Put32(0);
    f.Put32(0);
    f.Put32(0);
    f.PutI32(960);  // reference device: 960 x 960 pixels, 254 x 254 mm
    f.PutI32(960);
    f.PutI32(254);
    f.PutI32(254);
    f.Raw(records_.Str());
    f.Put32(14);  // EMR_EOF
    f.Put32(20);
    f.Put32(0);
    f.Put32(16);
    f.Put32(20);
    return f.Str();
  }

 private:
  static std::vector<std::uint32_t> Box(int l, int t, int r, int b) {
    return {static_cast<std::uint32_t>(l), static_cast<std::uint32_t>(t), static_cast<std::uint32_t>(r),
            static_cast<std::uint32_t>(b)};
  }
  int w_, h_;
  std::uint32_t handles_ = 0;
  int count_ = 0;
  LeBytes records_;
};

// ---- pictures

inline QImage Solid(int w, int h, QColor c) {
  QImage i(w, h, QImage::Format_ARGB32);
  i.fill(c);
  return i;
}

// Left half red, right half green, the top-left 4 x 4 corner transparent.
inline QImage Halves(int w, int h) {
  QImage i(w, h, QImage::Format_ARGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) i.setPixel(x, y, x < 4 && y < 4 ? 0 : x < w / 2 ? 0xFFFF0000 : 0xFF00FF00);
  return i;
}

// 2 x 2: red, green over blue, yellow.
inline QImage Quarters() {
  QImage i(2, 2, QImage::Format_RGB32);
  i.setPixel(0, 0, 0xFFFF0000);
  i.setPixel(1, 0, 0xFF00FF00);
  i.setPixel(0, 1, 0xFF0000FF);
  i.setPixel(1, 1, 0xFFFFFF00);
  return i;
}

// The scene both metafile kinds draw on 400 x 200 units (pixels at 96 an
// inch): white ground, a red rectangle (20, 20)-(180, 120), a blue
// ellipse in (220, 20)-(380, 120), "Hi" in black 50 high at (20, 130),
// and the quarters bitmap stretched over (300, 130)-(380, 190); the WMF
// scene adds a green pie, the top-right quarter of (200, 130)-(260, 190).
template <class Writer>
inline void DrawScene(Writer& w) {
  const int no_pen = w.CreatePen(0, -1);
  w.Select(no_pen);
  const int white = w.CreateBrush(0xFFFFFF);
  w.Select(white);
  w.Rectangle(0, 0, 400, 200);
  const int red = w.CreateBrush(0xFF0000);
  w.Select(red);
  w.Rectangle(20, 20, 180, 120);
  const int blue = w.CreateBrush(0x0000FF);
  w.Select(blue);
  w.Ellipse(220, 20, 380, 120);
  w.StretchDib(300, 130, 80, 60, Quarters());
  const int font = w.CreateFont(50, "Helvetica");
  w.Select(font);
  w.TextColor(0x000000);
  w.Text(20, 130, "Hi");
}

inline std::string WmfScene(int units_per_inch) {
  WmfWriter w(400, 200, units_per_inch);
  DrawScene(w);
  const int green = w.CreateBrush(0x00FF00);
  w.Select(green);
  w.Pie(200, 130, 260, 190, 260, 160, 230, 130);
  return w.Bytes();
}

inline std::string EmfScene() {
  EmfWriter e(400, 200);
  e.BkModeTransparent();
  DrawScene(e);
  return e.Bytes();
}

}  // namespace testsupport
