// The photo editor's "Print": one photo on a full page, previewed.
#pragma once

#include <optional>

namespace fw {
class TForm;
}

namespace app {

// Previews the full-page photo report (Rep3 of a TGenericReportForm owned
// by owner, freed afterwards) over "select * from type3 where type3num="
// followed by the photo's number. A photo without a number (NULL) cannot
// be selected that way: an information box says so and nothing is
// printed.
void PrintPhotoPage(fw::TForm* owner, std::optional<int> type3num);

// The information box's text for a photo without a number.
inline constexpr const char* kNoPhotoNumberMessage = "This photo has no photo number, so it cannot be printed.";

}  // namespace app
