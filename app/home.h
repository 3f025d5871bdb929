// The program's home: the process's current directory at the time of the
// call (never the executable's folder). Names under it are joined with '\'
// as the catalogue stores them; the platform layer takes either separator
// at the file-system call and matches names without regard to case.
#pragma once

#include <string>

#include "platform/file.h"

namespace app {

inline std::string HomeDirectory() { return platform::GetCurrentDirectory(); }

// The splash, about and fall-back front picture, in the home directory.
inline constexpr const char* kHomePicture = "_tavlin2.jpg";
// The front picture: the first line of the sponsor file (home directory)
// names its URL; each fetch writes it to the front picture file (current
// directory).
inline constexpr const char* kSponsorFile = "_sponsor.txt";
inline constexpr const char* kFrontPicture = "_front.jpg";

}  // namespace app
