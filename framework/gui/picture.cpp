#include "framework/gui/picture.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "framework/gui/bitmap.h"
#include "framework/gui/icon.h"
#include "framework/gui/jpeg_image.h"
#include "framework/gui/metafile.h"

namespace fw {

namespace {

struct FileFormat {
  std::string extension;  // lower case, no dot
  std::string description;
  TGraphicClass graphic_class;
};

struct ClipboardFormat {
  unsigned id;
  std::string name;
  TGraphicClass graphic_class;
};

std::unique_ptr<TGraphic> NewBitmap() { return std::make_unique<TBitmap>(); }

struct Registry {
  std::mutex mutex;
  std::vector<FileFormat> files{{"bmp", "Bitmaps", &NewBitmap},
                                {"ico", "Icons", &NewIcon},
                                {"wmf", "Metafiles", &NewMetafile},
                                {"emf", "Enhanced Metafiles", &NewMetafile},
                                {"jpg", "JPEG Image File", &NewJPEGImage},
                                {"jpeg", "JPEG Image File", &NewJPEGImage}};
  std::vector<ClipboardFormat> clipboard;
  unsigned next_id = 0xC000;  // registered clipboard formats start here
};

Registry& Reg() {
  static Registry* r = new Registry;  // never destroyed: used from static destructors
  return *r;
}

std::string NormalExtension(std::string ext) {
  if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

std::string ExtensionOf(const std::string& file_name) {
  const std::size_t slash = file_name.find_last_of("/\\");
  const std::size_t dot = file_name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return file_name.substr(dot + 1);
}

}  // namespace

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  TGraphicClass graphic_class) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mutex);
  const std::string ext = NormalExtension(extension);
  std::erase_if(r.files, [&](const FileFormat& f) { return f.extension == ext; });
  r.files.push_back({ext, description, graphic_class});
}

unsigned TPicture::RegisterClipboardFormat(const std::string& name, TGraphicClass graphic_class) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (auto& f : r.clipboard)
    if (f.name == name) {
      f.graphic_class = graphic_class;
      return f.id;
    }
  r.clipboard.push_back({r.next_id, name, graphic_class});
  return r.next_id++;
}

void TPicture::UnregisterGraphicClass(TGraphicClass graphic_class) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::erase_if(r.files, [&](const FileFormat& f) { return f.graphic_class == graphic_class; });
  // The format id stays known by name; only the class is forgotten.
  for (auto& f : r.clipboard)
    if (f.graphic_class == graphic_class) f.graphic_class = nullptr;
}

TGraphicClass TPicture::FindGraphicClass(const std::string& extension) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mutex);
  const std::string ext = NormalExtension(extension);
  for (const auto& f : r.files)
    if (f.extension == ext) return f.graphic_class;
  return nullptr;
}

TGraphicClass TPicture::FindClipboardClass(unsigned format) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (const auto& f : r.clipboard)
    if (f.id == format) return f.graphic_class;
  return nullptr;
}

unsigned TPicture::FindClipboardFormat(const std::string& name) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (const auto& f : r.clipboard)
    if (f.name == name) return f.id;
  return 0;
}

std::vector<std::string> TPicture::ClipboardFormatNames() {
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::vector<std::string> out;
  for (const auto& f : r.clipboard)
    if (f.graphic_class != nullptr) out.push_back(f.name);
  return out;
}

std::string TPicture::FileFormatDescription(const std::string& extension) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> lock(r.mutex);
  const std::string ext = NormalExtension(extension);
  for (const auto& f : r.files)
    if (f.extension == ext) return f.description;
  return {};
}

void TPicture::LoadFromFile(const std::string& file_name) {
  LoadFromFileAs(file_name, ExtensionOf(file_name));
}

void TPicture::LoadFromFileAs(const std::string& file_name, const std::string& ext) {
  TGraphicClass cls = FindGraphicClass(ext);
  if (!cls) throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
  std::unique_ptr<TGraphic> graphic = cls();
  graphic->LoadFromFile(file_name);
  SetGraphic(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& file_name) {
  if (!graphic_) throw EInvalidGraphicOperation("Picture is empty");
  graphic_->SaveToFile(file_name);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
  graphic_ = std::move(graphic);
  if (graphic_) graphic_->OnChange = [this](TGraphic*) { Changed(); };
  Changed();
}

void TPicture::Assign(const TGraphic* graphic) {
  if (!graphic) {
    SetGraphic(nullptr);
    return;
  }
  if (graphic == graphic_.get()) return;
  // A new graphic of the source's class: a registered class is found by
  // trying each one's Assign.
  std::vector<TGraphicClass> classes;
  {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const auto& f : r.files) classes.push_back(f.graphic_class);
  }
  for (TGraphicClass cls : classes) {
    std::unique_ptr<TGraphic> g = cls();
    if (std::string(g->ClassName()) != graphic->ClassName()) continue;
    g->Assign(*graphic);
    SetGraphic(std::move(g));
    return;
  }
  auto b = std::make_unique<TBitmap>();
  b->Assign(*graphic);
  SetGraphic(std::move(b));
}

void TPicture::Changed() {
  if (OnChange) OnChange(this);
}

}  // namespace fw
