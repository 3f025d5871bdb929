#include "gif/gif_item.h"

#include "gif/gif_image.h"

namespace gif {

void TGIFItem::ReportWarning(const void* sender, int severity, const std::string& message) {
  if (image_) image_->ReportWarning(sender, severity, message);
}

void TGIFItem::SaveToFile(const std::string& file_name) {
  fw::TFileStream stream(file_name, fw::fmCreate);
  SaveToStream(stream);
}

void TGIFItem::LoadFromFile(const std::string& file_name) {
  fw::TFileStream stream(file_name, fw::fmOpenRead | fw::fmShareDenyWrite);
  LoadFromStream(stream);
}

}  // namespace gif
