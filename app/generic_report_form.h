// TGenericReportForm: the window that holds the catalogue's five list
// reports. It is never shown itself: a caller makes it for one report,
// sets the report query's SQL, opens the query, previews (or prints) the
// report and frees the window.
//
// Every report is Letter, portrait, half-inch margins, so bands are 720
// report pixels wide and a page holds 960 pixels of bands:
//   Rep1  "Morvella Journal Listing"          Type1ReportQuery
//         title "Category Listing"; detail: date, category, title, notes
//         (stretching), a line; an empty page footer
//   Rep2  "Morvella Activity Listing"         Type2ReportQuery
//         title "Captured Photo URL Listing"; detail: date, due date,
//         category, title, notes (stretching), a line
//   Rep3  "Morvella Activity /To Do Listing"  Type3ReportQuery
//         one detail band (921 high, one to a page) holding the photo
//         QRImage2 centred (UpdateLargeImage)
//   Rep4  "Morvella Photo Album Listing"      Type3ReportQuery
//         title "Photo Album Listing"; detail: name, date, notes
//         (stretching), a line and the framed photo QRImage1 at (31, 43)
//         fitted into 281 x 233 (UpdateImage)
//   Rep5  "Morvella Internet Link List"       Type4ReportQuery
//         title "Internet Link List"; detail: name, URL and notes (both
//         stretching), a line and the framed link picture pic (129 x 113)
//
// A photo is the file named in the record's Filename, read as its URL's
// kind when the name has no extension. A record without a file name
// prints no photo.
#pragma once

#include "framework/forms/form.h"
#include "framework/forms/memo.h"
#include "framework/report/quick_rep.h"

namespace app {

class TGenericReportForm : public fw::TForm {
 public:
  explicit TGenericReportForm(fw::TComponent* owner);

  fw::TQuickRep* Rep1;
  fw::TQuickRep* Rep2;
  fw::TQuickRep* Rep3;
  fw::TQuickRep* Rep4;
  fw::TQuickRep* Rep5;
  fw::TQRImage* QRImage1;  // album photo (Rep4)
  fw::TQRImage* QRImage2;  // full-page photo (Rep3)
  fw::TQRDBImage* pic;     // link picture (Rep5)
  fw::TMemo* Memo1;

  // Report 1..5 (nullptr for any other number).
  fw::TQuickRep* Report(int n) const;

  // Before-print events of the photo bands: load and place the photo of
  // the record about to print.
  void UpdateImage();
  void UpdateLargeImage();

  // The album photo's box and place, and the full-page photo's box and
  // band.
  static constexpr int kAlbumLeft = 31;
  static constexpr int kAlbumTop = 43;
  static constexpr int kAlbumWidth = 281;
  static constexpr int kAlbumHeight = 233;
  static constexpr int kPageBoxWidth = 700;
  static constexpr int kPageBoxHeight = 850;
  static constexpr int kBandWidth = 720;
  static constexpr int kPageBandHeight = 921;

 private:
  fw::TQuickRep* NewReport(const char* name, const char* title, fw::TDataSet* dataset);
};

}  // namespace app
