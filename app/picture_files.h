// Picture files of the catalogue: the extension a picture URL gives, the
// loading of picture files that are stored without an extension, and the
// rule that fits a picture into a box.
//
// Picture files live in the data folder under names such as data\7 or
// data\7.gif (kept with '\' as stored; the platform layer accepts either
// separator). The picture registry chooses a picture class by extension; a
// file stored without one is read with the class of the URL's extension
// directly, so the user's file is never renamed or deleted to load it.
#pragma once

#include <string>
#include <string_view>

namespace fw {
class TPicture;
}

namespace app {

// Longest extension taken from a URL.
inline constexpr std::size_t kMaxUrlExtension = 5;

// The URL's extension, taken from its path: what follows the first "?"
// (the query) or "#" (the fragment) is no part of it. The path is split at
// "." as SplitToLines does (the first empty piece ends the split) and the
// last piece is taken; a path without "." gives the whole path. The result
// is untrusted text that ends up in file names, so only its leading letters
// and digits are kept, at most kMaxUrlExtension of them:
// "pic.jpg?x=1.5" gives "jpg", "a/../b" gives "".
std::string UrlExtension(std::string_view url);

// A picture file name with no extension of its own (SplitToLines at "."
// gives fewer than two pieces).
bool HasNoExtension(const std::string& file_name);

// The picture load of the windows and reports: file f of a record whose URL
// is url. Names without an extension take the URL's extension for the load.
void LoadPictureFile(fw::TPicture& picture, const std::string& file_name, std::string_view url);

struct FittedSize {
  int width = 0;
  int height = 0;
};

// Fits a picture of natural size w x h into a box aw x ah, keeping its
// proportions, touching the box on one side and inside it on the other
// (small pictures grow): w x ah >= h x aw fixes the width at aw, else the
// height at ah; the other side is rounded to the nearest integer, halves to
// even. A picture with no area keeps its size.
FittedSize FitPictureSize(int w, int h, int aw, int ah);

// The data folder, relative to the home directory; picture files live
// directly inside it.
inline constexpr const char* kDataFolder = "data";

// A photo's Filename is user-editable text. The only file a photo may take
// with it when it is deleted is its own picture: a plain file (not a link,
// not a folder) directly inside the data folder, named as "data\<name>" or
// "data/<name>" (letter case aside), that is not one of the engine's table
// files or their backups (.dat .idx .blb .dbk .ibk .bbk). Anything else
// ("data\type1.dat", "..\x", "data\..\x", "/etc/x", "x") is never a
// photo's picture.
bool IsPictureFileOfPhoto(const std::string& file_name);

// Deletes the photo's picture file when IsPictureFileOfPhoto allows it;
// true when a file was deleted. Never raises.
bool DeletePictureFile(const std::string& file_name);

}  // namespace app
