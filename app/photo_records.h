// Removing a photo: its record goes first, then its picture file, and the
// file only when it is the photo's own picture in the data folder
// (IsPictureFileOfPhoto): a record whose Filename was edited to name a
// table or a file elsewhere takes nothing else with it, and a delete that
// fails leaves the picture of a record that is still there.
#pragma once

namespace dataset {
class TTolmidTable;
}

namespace app {

// Deletes the current record of the photo table, then its picture file.
void DeleteCurrentPhoto(dataset::TTolmidTable& photos);

}  // namespace app
