#include "framework/dbctrls/db_image.h"

#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstring>
#include <functional>
#include <string_view>

#include "framework/db/dataset.h"
#include "framework/db/field.h"
#include "framework/exceptions.h"
#include "framework/forms/application.h"
#include "framework/forms/clipboard.h"
#include "framework/forms/image.h"
#include "framework/streams.h"

namespace fw {

class DBImageWidget : public QWidget {
 public:
  explicit DBImageWidget(TDBImage* image) : image_(image) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QImage target;
    Guarded([&] { image_->Paint(target); }, image_);
    if (target.isNull()) return;
    QPainter p(this);
    p.drawImage(0, 0, target);
  }

 private:
  TDBImage* image_;
};

std::unique_ptr<TGraphic> GraphicForBytes(const std::uint8_t* bytes, std::size_t size) {
  struct Signature {
    const char* magic;
    std::size_t length;
    const char* extension;
  };
  static constexpr Signature kSignatures[] = {{"BM", 2, "bmp"}, {"\xFF\xD8", 2, "jpg"}, {"GIF8", 4, "gif"}};
  for (const Signature& s : kSignatures) {
    if (size < s.length || std::memcmp(bytes, s.magic, s.length) != 0) continue;
    if (TGraphicClass cls = TPicture::FindGraphicClass(s.extension)) return cls();
  }
  return nullptr;
}

TDBImage::TDBImage(TComponent* owner) : TFieldControl(owner, new DBImageWidget(this)) {
  picture_.OnChange = [this](TPicture*) { Invalidate(); };
}

TDBImage::~TDBImage() {
  picture_.OnChange = nullptr;
  picture_.SetGraphic(nullptr);
}

void TDBImage::SetStretch(bool v) {
  stretch_ = v;
  Invalidate();
}

void TDBImage::SetCenter(bool v) {
  center_ = v;
  Invalidate();
}

void TDBImage::Paint(QImage& target) {
  const TRect dest = PictureRect(Width(), Height(), picture_.Width(), picture_.Height(), stretch_, stretch_, center_);
  PaintPicture(picture_, screen_, Width(), Height(), Widget()->palette().color(QPalette::Window), dest);
  if (!screen_.Empty()) target = screen_.Image();
}

QImage TDBImage::Snapshot() {
  QImage target;
  Paint(target);
  return target;
}

void TDBImage::DataChange() {
  TField* f = Field();
  TDataSet* ds = link_.DataSet();
  if (f == nullptr || ds == nullptr || f->IsNull()) {
    picture_.SetGraphic(nullptr);
    reported_ = 0;
    return;
  }
  std::string error;
  std::size_t key = 0;
  try {
    TMemoryStream bytes;
    if (auto blob = ds->CreateBlobStream(f, TBlobStreamMode::bmRead)) bytes.CopyFrom(*blob, 0);
    if (bytes.Size() == 0) {
      picture_.SetGraphic(nullptr);
      reported_ = 0;
      return;
    }
    key = std::hash<std::string_view>()(
              std::string_view(reinterpret_cast<const char*>(bytes.Memory()), static_cast<std::size_t>(bytes.Size()))) |
          1;
    auto g = GraphicForBytes(reinterpret_cast<const std::uint8_t*>(bytes.Memory()),
                             static_cast<std::size_t>(bytes.Size()));
    if (!g) throw EInvalidGraphic("Unknown picture format in field '" + f->DisplayName() + "'");
    bytes.SetPosition(0);
    g->LoadFromStream(bytes);
    picture_.SetGraphic(std::move(g));
    reported_ = 0;
    return;
  } catch (const std::exception& e) {
    error = e.what();
  }
  picture_.SetGraphic(nullptr);
  if (key != 0 && key == reported_) return;
  reported_ = key;
  // Reported from the event loop: this runs inside the dataset's event.
  QTimer::singleShot(0, Widget(), [error] { Guarded([&] { throw EInvalidGraphic(error); }); });
}

void TDBImage::Store(TGraphic* graphic) {
  TField* f = Field();
  auto* blob = dynamic_cast<TBlobField*>(f);
  if (blob == nullptr) return;
  if (ReadOnly() || !link_.Edit()) {
    link_.Reset();
    return;
  }
  if (graphic == nullptr) {
    blob->Clear();
    return;
  }
  TMemoryStream bytes;
  graphic->SaveToStream(bytes);
  bytes.SetPosition(0);
  blob->LoadFromStream(bytes);
}

void TDBImage::CopyToClipboard() {
  if (TGraphic* g = picture_.Graphic(); g != nullptr && !g->Empty()) Clipboard().Assign(*g);
}

void TDBImage::CutToClipboard() {
  CopyToClipboard();
  Store(nullptr);
}

void TDBImage::PasteFromClipboard() {
  std::unique_ptr<TGraphic> g = Clipboard().GetGraphic();
  if (g) Store(g.get());
}

}  // namespace fw
