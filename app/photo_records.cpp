#include "app/photo_records.h"

#include <string>

#include "app/picture_files.h"
#include "dataset/tolmid_table.h"

namespace app {

void DeleteCurrentPhoto(dataset::TTolmidTable& photos) {
  const std::string file = photos.FieldByName("filename")->AsString();
  photos.Delete();
  if (!file.empty()) DeletePictureFile(file);
}

}  // namespace app
