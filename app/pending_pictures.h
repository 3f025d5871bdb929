// Picture files on their way in. Process (the capture window) brings each
// picture into the data folder in steps, so that a program killed at any
// moment leaves no picture file that no photo names:
//
//   1. the HTTP client fetches the picture to its pending name
//      data\<n>[.<ext>].pending (writing it under a temporary name of its
//      own beside it first, ".<n>[.<ext>].pending.part-XXXXXX", and renaming
//      that when the whole body is there);
//   2. the photo record is posted, naming the picture data\<n>[.<ext>];
//   3. the pending file is renamed to that name.
//
// A kill before step 2 leaves a pending file (or a client's temporary one)
// that no photo names; a kill between 2 and 3 a pending file whose photo
// is waiting for it. FinishPendingPictures, run once the tables are open at
// start-up, moves the second kind into place and deletes the first. It
// touches only names of the forms above, with <n> all digits and <ext>
// one to five letters or digits: names that only Process makes.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace dataset {
class TTolmidTable;
}

namespace app {

// The pending name of a picture file name ("data\7.gif" gives
// "data\7.gif.pending").
std::string PendingPictureName(const std::string& file_name);

// Finishes or removes what an interrupted Process left in the data folder
// (under the current directory); photos is the open photo table, whose
// Filename values say which pictures are awaited. Returns the number of
// pictures moved into place.
int FinishPendingPictures(dataset::TTolmidTable& photos);

// Test seam: called with the name of each point Process passes for a
// picture, after the step named: "picture fetched", "picture viewed",
// "photo posted", "picture in place", "captured URL deleted".
using ProcessStepHook = std::function<void(std::string_view point)>;
void SetProcessStepHook(ProcessStepHook hook);
void ProcessStep(std::string_view point);

}  // namespace app
