// TPicture: holds one graphic of any registered class, and the registry of
// picture classes by file extension and by clipboard format.
//
// The registry is process-wide and guarded by a mutex. TBitmap ("bmp"),
// TIcon ("ico"), TMetafile ("wmf", "emf") and TJPEGImage ("jpg", "jpeg")
// are registered from the start;
// other classes register themselves at their unit start-up
// (gif::GIFImageInitialization registers "gif").
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/gui/graphic.h"

namespace fw {

class TBitmap;

// Makes an empty graphic of one class; the class's identity in the registry.
using TGraphicClass = std::unique_ptr<TGraphic> (*)();

class TPicture {
 public:
  TPicture() = default;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // Extension with or without the dot, compared without regard to case; a
  // later registration of an extension replaces the earlier one.
  static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                 TGraphicClass graphic_class);
  // Registers a clipboard format name for a class; returns the format id
  // (the same id for the same name).
  static unsigned RegisterClipboardFormat(const std::string& name, TGraphicClass graphic_class);
  // Removes every extension and clipboard format of the class.
  static void UnregisterGraphicClass(TGraphicClass graphic_class);
  // nullptr when the extension is not registered.
  static TGraphicClass FindGraphicClass(const std::string& extension);
  static TGraphicClass FindClipboardClass(unsigned format);
  // The id of a registered clipboard format name, 0 when unknown.
  static unsigned FindClipboardFormat(const std::string& name);
  // The names of the registered clipboard formats that have a class.
  static std::vector<std::string> ClipboardFormatNames();
  static std::string FileFormatDescription(const std::string& extension);

  // Picks the class by the file's extension; EInvalidGraphic
  // "Unknown picture file extension (.<ext>)" when none fits. A failed load
  // keeps the old graphic.
  void LoadFromFile(const std::string& file_name);
  // The same with the class chosen by extension instead of by the file's
  // own name (for picture files stored without an extension).
  void LoadFromFileAs(const std::string& file_name, const std::string& extension);
  // EInvalidGraphicOperation "Picture is empty" without a graphic.
  void SaveToFile(const std::string& file_name);

  TGraphic* Graphic() const { return graphic_.get(); }
  void SetGraphic(std::unique_ptr<TGraphic> graphic);
  // Takes a copy of graphic through the graphic's class (nullptr clears).
  void Assign(const TGraphic* graphic);
  int Width() const { return graphic_ ? graphic_->Width() : 0; }
  int Height() const { return graphic_ ? graphic_->Height() : 0; }
  std::function<void(TPicture* sender)> OnChange;

 private:
  void Changed();
  std::unique_ptr<TGraphic> graphic_;
};

}  // namespace fw
