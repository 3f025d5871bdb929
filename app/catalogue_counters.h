// The catalogue's running counters in defaults.dat (one record): each is
// taken by reading it, storing the value + 1 and posting at once, so a
// number is used up even when what it was taken for is later dropped.
#pragma once

#include <string>

namespace dataset {
class TTolmidTable;
}

namespace app {

// Opens defaults (it stays open), reads counter; a value of 0 (or an empty
// field) is taken as zero_value; stores the value + 1, posts and returns
// the value. A failed post cancels the edit before the error goes on.
int TakeCounter(dataset::TTolmidTable& defaults, const std::string& counter, int zero_value);

}  // namespace app
