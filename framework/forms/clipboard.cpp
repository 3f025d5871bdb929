#include "framework/forms/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include "framework/forms/qt_text.h"
#include "framework/forms/text_input.h"
#include "framework/gui/bitmap.h"
#include "framework/gui/picture.h"
#include "framework/streams.h"

namespace fw {

namespace {

QClipboard* Board() { return QGuiApplication::clipboard(); }

// Registered picture formats (TPicture::RegisterClipboardFormat) travel
// under a private MIME type carrying the format's name.
QString FormatMime(const std::string& name) {
  return QStringLiteral("application/x-tolmid-picture;name=\"") + QString::fromStdString(name) + QStringLiteral("\"");
}

}  // namespace

bool TClipboard::HasText() const {
  const QMimeData* d = Board()->mimeData();
  return d != nullptr && d->hasText();
}

std::string TClipboard::AsText() const { return AnsiStr(Board()->text()); }

std::string TClipboard::AsUrl() const {
  return AnsiStr(KeepStorable(Board()->text(), TForeignChars::kPercentEncode));
}

void TClipboard::SetAsText(const std::string& text) { Board()->setText(QStr(text)); }

bool TClipboard::HasPicture() const {
  const QMimeData* d = Board()->mimeData();
  if (d == nullptr) return false;
  if (d->hasImage()) return true;
  for (const std::string& f : TPicture::ClipboardFormatNames())
    if (d->hasFormat(FormatMime(f))) return true;
  return false;
}

void TClipboard::Assign(TGraphic& graphic) {
  auto* data = new QMimeData;
  TBitmap b;
  b.Assign(graphic);
  data->setImageData(b.Image());
  for (const std::string& f : TPicture::ClipboardFormatNames()) {
    TGraphicClass cls = TPicture::FindClipboardClass(TPicture::FindClipboardFormat(f));
    if (cls == nullptr) continue;
    std::unique_ptr<TGraphic> probe = cls();
    if (std::string(probe->ClassName()) != graphic.ClassName()) continue;
    TMemoryStream s;
    graphic.SaveToStream(s);
    data->setData(FormatMime(f), QByteArray(reinterpret_cast<const char*>(s.Memory()), static_cast<qsizetype>(s.Size())));
  }
  Board()->setMimeData(data);
}

std::unique_ptr<TGraphic> TClipboard::GetGraphic() const {
  const QMimeData* d = Board()->mimeData();
  if (d == nullptr) return nullptr;
  for (const std::string& f : TPicture::ClipboardFormatNames()) {
    if (!d->hasFormat(FormatMime(f))) continue;
    TGraphicClass cls = TPicture::FindClipboardClass(TPicture::FindClipboardFormat(f));
    if (cls == nullptr) continue;
    const QByteArray bytes = d->data(FormatMime(f));
    TMemoryStream s;
    s.WriteBuffer(bytes.constData(), bytes.size());
    s.SetPosition(0);
    std::unique_ptr<TGraphic> g = cls();
    g->LoadFromStream(s);
    return g;
  }
  if (!d->hasImage()) return nullptr;
  auto b = std::make_unique<TBitmap>();
  b->SetImage(qvariant_cast<QImage>(d->imageData()));
  return b;
}

void TClipboard::Clear() { Board()->clear(); }

TClipboard& Clipboard() {
  static TClipboard clipboard;
  return clipboard;
}

}  // namespace fw
