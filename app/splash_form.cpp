#include "app/splash_form.h"

#include "app/catalogue_schema.h"
#include "app/data_module.h"
#include "app/home.h"
#include "app/pending_pictures.h"
#include "app/sample_data.h"

namespace app {

TSplashForm* SplashForm = nullptr;

TSplashForm::TSplashForm(fw::TComponent* owner) : TForm(owner) {
  SetName("SplashForm");
  SetBorderStyle(fw::TFormBorderStyle::bsNone);
  SetBorderIcons(0);
  SetClientSize(323, 246);
  SetPosition(fw::TPosition::poScreenCenter);
  SetColor(fw::clSilver);

  Panel1 = Make<fw::TPanel>("Panel1", this);
  Panel1->SetAlign(fw::TAlign::alClient);
  Panel1->SetColor(fw::clSilver);
  Bevel1 = Make<fw::TBevel>("Bevel1", Panel1);
  Bevel1->SetBounds(8, 8, 307, 230);
  Bevel1->SetStyle(fw::TBevelStyle::bsLowered);
  // The picture is drawn 297 x 220 for this place (app/tools).
  PicImage = Make<fw::TImage>("PicImage", Panel1);
  PicImage->SetBounds(13, 13, 297, 220);
  PicImage->SetAutoSize(true);
  PicImage->SetCenter(true);
  PicImage->SetTransparent(true);
  LoadingLabel = Make<fw::TLabel>("LoadingLabel", Panel1);
  LoadingLabel->SetFont({"", 10, fw::clWhite, true});
  LoadingLabel->SetTransparent(true);
  LoadingLabel->SetCaption("Opening Databases");
  LoadingLabel->SetBounds((323 - LoadingLabel->Width()) / 2, 196, LoadingLabel->Width(), LoadingLabel->Height());
  LoadingLabel->SetVisible(false);
  LoadPB = Make<fw::TProgressBar>("LoadPB", Panel1);
  LoadPB->SetBounds(13, 222, 297, 10);
  LoadPB->SetMin(0);
  LoadPB->SetMax(6);
  LoadPB->SetStep(1);
  LoadPB->SetSmooth(true);
  LoadPB->SetVisible(false);

  OnActivate = [this](fw::TComponent* s) { FormActivate(s); };
}

void TSplashForm::FormActivate(fw::TComponent*) {
  PicImage->Picture().LoadFromFile(HomeDirectory() + "\\" + kHomePicture);
}

void TSplashForm::Pause() {}

void TSplashForm::Step() {
  LoadPB->StepIt();
  Pause();
}

void TSplashForm::OpenDBs() {
  LoadingLabel->Show();
  LoadPB->Hide();
  Repaint();
  LoadPB->SetMax(6);
  LoadPB->SetPosition(0);
  TDatamodule1& dm = *Datamodule1;
  dm.QuennetDB->Close();
  dm.QuennetDB->SetDirectory(HomeDirectory() + "\\data");
  dm.QuennetDB->Open();
  Step();
  for (dataset::TTolmidTable* t : {dm.DefaultsTable, dm.Type1Table, dm.Type2Table, dm.Type3Table, dm.Type4Table}) {
    t->Open();
    Step();
  }
  if (dm.DefaultsTable->FieldByName("nextType1Num")->AsInteger() == kNewCatalogueCounter) {
    RemoveSampleData(dm);
    dm.DefaultsTable->Edit();
    for (const char* counter : {"nextType1Num", "nextType2Num", "nextType3Num", "nextType4Num"})
      dm.DefaultsTable->FieldByName(counter)->SetAsInteger(kFirstUserNumber);
    dm.DefaultsTable->Post();
  }
  // Every user of the counters opens the table again.
  dm.DefaultsTable->Close();
  // Pictures of a Process that was interrupted: into place for their
  // photos, or away.
  FinishPendingPictures(*dm.Type3Table);
}

}  // namespace app
