// Showing a photo's picture file in a picture control: the load at the
// picture's natural size, the fit into a box, and the frame of a picture
// panel (a panel holding a bevel and the picture) drawn around the result.
//
// A picture panel after FramePicture, for a fitted picture of w x h:
//
//   panel (w + 18) x (h + 18)
//   +-----------------------------+
//   | bevel at its own left/top,  |
//   | (w + 10) x (h + 10)         |
//   |   picture at bevel + 5,     |
//   |   w x h, stretched          |
//   +-----------------------------+
//
// The bevel keeps its place, so with the bevel at 4,4 the picture sits at
// 9,9 and the panel has 4 pixels around the bevel.
#pragma once

#include <string>
#include <string_view>

namespace fw {
class TBevel;
class TImage;
class TPanel;
}  // namespace fw

namespace app {

// Loads the picture file of a record whose URL is url into image, which
// is first unaligned, hidden, auto-sized and unstretched, so that it takes
// the picture's natural size. A failed load leaves image hidden and
// empty, never showing an earlier picture, and raises.
void LoadPictureHidden(fw::TImage& image, const std::string& file_name, std::string_view url);

// The fit rule (FitPictureSize) on a control that was auto-sized to its
// picture: auto-size off, stretching on, the fitted size.
void FitPicture(fw::TImage& image, int box_width, int box_height);

// Sizes bevel to the picture + 10 in each direction, puts the picture at
// the bevel's left + 5 and top + 5, sizes panel to the bevel + 8.
void FramePicture(fw::TPanel& panel, fw::TBevel& bevel, fw::TImage& image);

// Hides image and drops its picture.
void ClearPicture(fw::TImage& image);

}  // namespace app
