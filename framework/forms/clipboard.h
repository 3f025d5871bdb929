// TClipboard: the system clipboard for text and pictures. A picture goes
// to the clipboard as an image; a GIF picture also as its own bytes under
// its registered format ("GIF Image"), which a paste prefers.
#pragma once

#include <memory>
#include <string>

#include "framework/gui/graphic.h"

namespace fw {

class TClipboard {
 public:
  bool HasText() const;
  std::string AsText() const;
  // The text as a URL: characters that code page 1252 lacks as the
  // percent escapes of their UTF-8 bytes, as a browser sends them.
  std::string AsUrl() const;
  void SetAsText(const std::string& text);
  bool HasPicture() const;
  // Puts graphic on the clipboard (as an image, plus the graphic's own
  // format when its class has one registered).
  void Assign(TGraphic& graphic);
  // The clipboard's picture as a new graphic (nullptr when there is none):
  // a registered class by its format first, else a bitmap.
  std::unique_ptr<TGraphic> GetGraphic() const;
  void Clear();
};

TClipboard& Clipboard();

}  // namespace fw
