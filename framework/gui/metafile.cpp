#include "framework/gui/metafile.h"

#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <span>

#include "framework/gui/bitmap.h"
#include "framework/gui/canvas.h"
#include "framework/gui/emf_reader.h"
#include "framework/gui/wmf_reader.h"

namespace fw {

namespace {

constexpr const char* kInvalid = "Metafile is not valid";
constexpr const char* kChangeSize = "Cannot change the size of a metafile";
constexpr const char* kNoApplication = "Cannot draw an EMF picture before the application has started";

// The largest size within the render limits with the aspect of w x h.
QSize RenderSize(int w, int h) {
  const double aw = std::max(1, std::abs(w)), ah = std::max(1, std::abs(h));
  const double f = std::min({1.0, TMetafile::kMaxRenderSide / aw, TMetafile::kMaxRenderSide / ah,
                             std::sqrt(static_cast<double>(TMetafile::kMaxRenderPixels) / (aw * ah))});
  return QSize(std::max(1, static_cast<int>(aw * f)), std::max(1, static_cast<int>(ah * f)));
}

bool HasGuiApplication() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

std::string Invalid(const std::string& what) { return std::string(kInvalid) + " (" + what + ")"; }

// "" when played, else what went wrong.
std::string Play(std::span<const std::uint8_t> bytes, bool enhanced, int width, int height, QImage& out) {
  return enhanced ? emf::Play(bytes, width, height, out) : wmf::Play(bytes, width, height, out);
}

}  // namespace

TMetafile::TMetafile() = default;
TMetafile::~TMetafile() = default;

std::unique_ptr<TGraphic> NewMetafile() { return std::make_unique<TMetafile>(); }

void TMetafile::SetWidth(int) { throw EInvalidGraphicOperation(kChangeSize); }
void TMetafile::SetHeight(int) { throw EInvalidGraphicOperation(kChangeSize); }

void TMetafile::LoadFromStream(TStream& stream) {
  const std::int64_t size = stream.Size() - stream.Position();
  if (size <= 0) throw EInvalidGraphic(kInvalid);
  if (size > kMaxFileSize) throw EInvalidGraphic("Metafile is too large");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  stream.ReadBuffer(bytes.data(), size);
  const std::span<const std::uint8_t> view(bytes);
  bool enhanced = false;
  if (emf::LooksLikeEmf(view)) {
    enhanced = true;
  } else if (!wmf::LooksLikeWmf(view)) {
    throw EInvalidGraphic(kInvalid);
  }
  if (enhanced && !HasGuiApplication()) throw EInvalidGraphicOperation(kNoApplication);
  int width = 0, height = 0;
  if (std::string e = enhanced ? emf::ReadSize(view, width, height) : wmf::ReadSize(view, width, height); !e.empty())
    throw EInvalidGraphic(Invalid(e));
  if (width > TBitmap::kMaxSide || height > TBitmap::kMaxSide ||
      static_cast<std::int64_t>(width) * height > TBitmap::kMaxPixels)
    throw EInvalidGraphic("Metafile is too large (" + std::to_string(width) + " x " + std::to_string(height) + ")");
  const QSize render = RenderSize(width, height);
  QImage played;
  if (std::string e = Play(bytes, enhanced, render.width(), render.height(), played); !e.empty())
    throw EInvalidGraphic(Invalid(e));
  data_ = std::move(bytes);
  enhanced_ = enhanced;
  width_ = width;
  height_ = height;
  played_ = std::move(played);
  Changed();
}

const QImage& TMetafile::Render(int width, int height) {
  const QSize size = RenderSize(width, height);
  if (played_.size() != size) {
    QImage image;
    if (Play(data_, enhanced_, size.width(), size.height(), image).empty()) played_ = std::move(image);
  }
  return played_;
}

void TMetafile::Draw(TCanvas& canvas, const TRect& rect) {
  if (Empty() || rect.Width() == 0 || rect.Height() == 0) return;
  canvas.StretchDrawImage(rect, Render(rect.Width(), rect.Height()));
}

void TMetafile::SaveToStream(TStream& stream) {
  if (!data_.empty()) stream.WriteBuffer(data_.data(), static_cast<std::int64_t>(data_.size()));
}

void TMetafile::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (const auto* m = dynamic_cast<const TMetafile*>(&source)) {
    data_ = m->data_;
    enhanced_ = m->enhanced_;
    width_ = m->width_;
    height_ = m->height_;
    played_ = m->played_;
    Changed();
    return;
  }
  TGraphic::Assign(source);
}

}  // namespace fw
