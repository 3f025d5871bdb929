#include "app/generic_report_form.h"

#include <cmath>

#include "app/data_module.h"
#include "app/picture_files.h"
#include "framework/forms/dialogs.h"

namespace app {

namespace {

constexpr int kRowHeight = 17;

fw::TQRBand* NewBand(fw::TQuickRep* rep, fw::TQRBandType type, int height) {
  auto* band = new fw::TQRBand(rep, type);
  band->SetHeight(height);
  return band;
}

void TitleLabel(fw::TQRBand* band, const char* caption) {
  auto* l = new fw::TQRLabel(band);
  l->SetCaption(caption);
  l->Font().Size = 14;
  l->Font().Bold = true;
  l->SetAutoSize(false);
  l->SetAlignment(fw::TQRAlignment::taCenter);
  l->SetBounds(0, 8, band->Width(), 24);
}

void Label(fw::TQRBand* band, const char* caption, int left, int top) {
  auto* l = new fw::TQRLabel(band);
  l->SetCaption(caption);
  l->Font().Bold = true;
  l->SetBounds(left, top, 60, kRowHeight);
}

fw::TQRDBText* Text(fw::TQRBand* band, const char* field, int left, int top, int width, bool stretch = false) {
  auto* t = new fw::TQRDBText(band);
  t->SetDataField(field);
  t->SetAutoSize(false);
  t->SetAutoStretch(stretch);
  t->SetBounds(left, top, width, kRowHeight);
  return t;
}

void Line(fw::TQRBand* band, int top) {
  auto* s = new fw::TQRShape(band);
  s->SetShape(fw::TQRShapeType::qrsHorLine);
  s->SetBounds(0, top, band->Width(), 8);
}

// Loads the record's photo into image (auto-sized, unstretched), then fits
// it into aw x ah: stretched to the fitted size, its place unchanged.
void LoadFitted(fw::TQRImage& image, const std::string& file, const std::string& url, int aw, int ah) {
  image.Hide();
  image.SetAutoSize(true);
  image.SetStretch(false);
  LoadPictureFile(image.Picture(), file, url);
  const FittedSize fitted = FitPictureSize(image.Width(), image.Height(), aw, ah);
  image.SetAutoSize(false);
  image.SetStretch(true);
  image.SetWidth(fitted.width);
  image.SetHeight(fitted.height);
}

// A record without a photo prints none (the photo of the record before it
// must not stay).
void ClearPhoto(fw::TQRImage& image) {
  image.SetAutoSize(false);
  image.Picture().Assign(nullptr);
}

}  // namespace

TGenericReportForm::TGenericReportForm(fw::TComponent* owner) : TForm(owner) {
  SetName("GenericReportForm");
  SetCaption("Reports");
  SetClientSize(400, 300);
  Memo1 = Make<fw::TMemo>("Memo1", this);
  Memo1->SetBounds(8, 8, 185, 89);
  Memo1->SetVisible(false);
  TDatamodule1* dm = Datamodule1;

  Rep1 = NewReport("Rep1", "Morvella Journal Listing", dm ? dm->Type1ReportQuery : nullptr);
  {
    TitleLabel(NewBand(Rep1, fw::TQRBandType::rbTitle, 41), "Category Listing");
    fw::TQRBand* d = NewBand(Rep1, fw::TQRBandType::rbDetail, 69);
    Label(d, "Date:", 8, 4);
    Text(d, "JournalDate", 70, 4, 120);
    Label(d, "Category:", 220, 4);
    Text(d, "Category", 290, 4, 300);
    Label(d, "Title:", 8, 22);
    Text(d, "JournalName", 70, 22, 480);
    Label(d, "Notes:", 8, 40);
    Text(d, "Details", 70, 40, 640, true);
    Line(d, 60);
    NewBand(Rep1, fw::TQRBandType::rbPageFooter, 40);
  }

  Rep2 = NewReport("Rep2", "Morvella Activity Listing", dm ? dm->Type2ReportQuery : nullptr);
  {
    TitleLabel(NewBand(Rep2, fw::TQRBandType::rbTitle, 49), "Captured Photo URL Listing");
    fw::TQRBand* d = NewBand(Rep2, fw::TQRBandType::rbDetail, 69);
    Label(d, "Date:", 8, 4);
    Text(d, "ActivityDate", 70, 4, 100);
    Label(d, "Due:", 190, 4);
    Text(d, "DueDate", 240, 4, 100);
    Label(d, "Category:", 360, 4);
    Text(d, "Category", 430, 4, 280);
    Label(d, "Title:", 8, 22);
    Text(d, "ActivityName", 70, 22, 450);
    Label(d, "Notes:", 8, 40);
    Text(d, "Details", 70, 40, 640, true);
    Line(d, 60);
  }

  Rep3 = NewReport("Rep3", "Morvella Activity /To Do Listing", dm ? dm->Type3ReportQuery : nullptr);
  {
    fw::TQRBand* d = NewBand(Rep3, fw::TQRBandType::rbDetail, kPageBandHeight);
    QRImage2 = new fw::TQRImage(d);
    QRImage2->SetName("QRImage2");
    QRImage2->SetCenter(true);
    QRImage2->SetBounds(10, 35, kPageBoxWidth, kPageBoxHeight);
    d->BeforePrint = [this](fw::TQRBand&, bool&) { UpdateLargeImage(); };
  }

  Rep4 = NewReport("Rep4", "Morvella Photo Album Listing", dm ? dm->Type3ReportQuery : nullptr);
  {
    TitleLabel(NewBand(Rep4, fw::TQRBandType::rbTitle, 41), "Photo Album Listing");
    fw::TQRBand* d = NewBand(Rep4, fw::TQRBandType::rbDetail, 288);
    Label(d, "Name:", kAlbumLeft, 12);
    Text(d, "ResourceName", 90, 12, 297);
    Label(d, "Date:", 330, kAlbumTop);
    Text(d, "PhotoDate", 390, kAlbumTop, 150);
    Label(d, "Notes:", 330, 66);
    Text(d, "Details", 330, 86, 357, true);
    Line(d, 280);
    QRImage1 = new fw::TQRImage(d);
    QRImage1->SetName("QRImage1");
    QRImage1->Frame().SetAll(true);
    QRImage1->SetBounds(kAlbumLeft, kAlbumTop, kAlbumWidth, kAlbumHeight);
    d->BeforePrint = [this](fw::TQRBand&, bool&) { UpdateImage(); };
  }

  Rep5 = NewReport("Rep5", "Morvella Internet Link List", dm ? dm->Type4ReportQuery : nullptr);
  {
    TitleLabel(NewBand(Rep5, fw::TQRBandType::rbTitle, 33), "Internet Link List");
    fw::TQRBand* d = NewBand(Rep5, fw::TQRBandType::rbDetail, 136);
    pic = new fw::TQRDBImage(d);
    pic->SetName("pic");
    pic->SetDataField("pic");
    pic->SetStretch(true);
    pic->Frame().SetAll(true);
    pic->SetBounds(8, 8, 129, 113);
    Label(d, "Name:", 150, 8);
    Text(d, "LinkName", 205, 8, 505);
    Label(d, "URL:", 150, 30);
    Text(d, "URL", 205, 30, 505, true);
    Label(d, "Notes:", 150, 52);
    Text(d, "Details", 205, 52, 505, true);
    Line(d, 126);
  }
}

fw::TQuickRep* TGenericReportForm::NewReport(const char* name, const char* title, fw::TDataSet* dataset) {
  auto* rep = new fw::TQuickRep(this);
  rep->SetName(name);
  rep->SetReportTitle(title);
  rep->Page().SetPaperSize(fw::TQRPaperSize::Letter);
  rep->Page().Orientation = fw::TQROrientation::poPortrait;
  rep->Page().TopMargin = 127.0;
  rep->Page().Length = 2794.0;
  rep->Page().LeftMargin = 127.0;
  rep->Page().Width = 2159.0;
  rep->Page().RightMargin = 127.0;
  rep->Page().BottomMargin = 127.0;
  rep->Page().Zoom = 100;
  rep->SetDataSet(dataset);
  // The preview's reports of errors are the program's warning boxes.
  rep->OnError = [](const std::string& message) {
    fw::MessageDlg(message, fw::TMsgDlgType::mtWarning, {fw::TMsgDlgBtn::mbOK});
  };
  return rep;
}

fw::TQuickRep* TGenericReportForm::Report(int n) const {
  switch (n) {
    case 1: return Rep1;
    case 2: return Rep2;
    case 3: return Rep3;
    case 4: return Rep4;
    case 5: return Rep5;
    default: return nullptr;
  }
}

void TGenericReportForm::UpdateImage() {
  fw::TDataSet& ds = *Rep4->DataSet();
  const std::string file = ds.FieldByName("filename")->AsString();
  if (file.empty()) {
    ClearPhoto(*QRImage1);
    QRImage1->SetBounds(kAlbumLeft, kAlbumTop, kAlbumWidth, kAlbumHeight);
    QRImage1->Show();
    return;
  }
  LoadFitted(*QRImage1, file, ds.FieldByName("Photourl")->AsString(), kAlbumWidth, kAlbumHeight);
  QRImage1->Show();
}

void TGenericReportForm::UpdateLargeImage() {
  fw::TDataSet& ds = *Rep3->DataSet();
  const std::string file = ds.FieldByName("filename")->AsString();
  if (file.empty()) {
    ClearPhoto(*QRImage2);
    return;
  }
  LoadFitted(*QRImage2, file, ds.FieldByName("Photourl")->AsString(), kPageBoxWidth, kPageBoxHeight);
  // Centred on the band, 5 pixels lower; halves round to even.
  QRImage2->SetLeft(static_cast<int>(std::nearbyint((kBandWidth - QRImage2->Width()) / 2.0)));
  QRImage2->SetTop(static_cast<int>(std::nearbyint((kPageBandHeight - QRImage2->Height()) / 2.0)) + 5);
  QRImage2->Show();
}

}  // namespace app
