// The capture window's runs: auto-capture over a number range, and
// Process, which turns the captured URLs into photos with picture files.
#include <cstdint>
#include <memory>

#include "app/auto_capture_form.h"
#include "app/catalogue_counters.h"
#include "app/data_module.h"
#include "app/pending_pictures.h"
#include "app/picture_files.h"
#include "app/type2_edit_form.h"
#include "framework/forms/dialogs.h"
#include "framework/sysutils.h"
#include "platform/file.h"

namespace app {

namespace {

bool Ask(const std::string& question) {
  return fw::MessageDlg(question, fw::TMsgDlgType::mtConfirmation, {fw::TMsgDlgBtn::mbYes, fw::TMsgDlgBtn::mbNo}) ==
         fw::mrYes;
}

// A picture fetched by Process under its pending name: removed again
// unless it was moved into place, so that no picture file is left
// without a photo (pending_pictures.h has the steps).
class FetchedPicture {
 public:
  explicit FetchedPicture(std::string name) : name_(std::move(name)) {}
  ~FetchedPicture() {
    if (!kept_) platform::DeleteFile(name_);
  }
  FetchedPicture(const FetchedPicture&) = delete;
  FetchedPicture& operator=(const FetchedPicture&) = delete;
  void Keep() { kept_ = true; }

 private:
  std::string name_;
  bool kept_ = false;
};

// "data\<n>", with "." and the URL's extension unless hidden (an empty
// extension adds nothing).
std::string PictureFileName(int number, const std::string& extension, bool hide_extension) {
  std::string name = "data\\" + std::to_string(number);
  if (!hide_extension && !extension.empty()) name += "." + extension;
  return name;
}

}  // namespace

void TType2EditForm::AutoCapture() {
  if (running_) return;
  AutoCaptureSettings s;
  {
    // A new settings window for every run, so that each starts from the
    // defaults.
    std::unique_ptr<TAutoCaptureForm> settings(new TAutoCaptureForm(this));
    settings_ = settings.get();
    struct Forget {
      TAutoCaptureForm*& settings;
      ~Forget() { settings = nullptr; }
    } forget{settings_};
    if (settings->ShowModal() != fw::mrOk || !settings->HasRange()) return;
    s = settings->Settings();
  }
  // The numbers with the most digits are at the ends of the range.
  for (const int end : {s.low, s.high})
    if (!FitsCapturedUrl(AutoCaptureUrl(s, end))) return;

  const std::shared_ptr<bool> alive = alive_;
  // Wide enough for the run's jumps past either end of any int range.
  std::int64_t i = s.up ? s.low : s.high;
  AutoCB->SetChecked(true);
  RunScope run(*this);
  while (s.low <= i && i <= s.high) {
    const std::string url = AutoCaptureUrl(s, static_cast<int>(i));
    PhotoTE->SetText(url);
    NMHTTP1->Disconnect();
    const AddedUrl added = AppendCapturedUrl(TakeType2Num(), PhotoTE->Text(), &s.category);

    bool failed = false;
    bool aborted = false;
    try {
      aborted = !View(url);
    } catch (const fw::EAbort&) {
      aborted = true;
    } catch (...) {
      failed = true;
    }
    if (!*alive) {
      // The window went away during the fetch: only the data is left to
      // put right.
      DeleteCapturedUrl(added);
      return;
    }
    if (aborted) {
      // "Abort" (or closing the window) ended the fetch: the URL goes and
      // the run ends without a question.
      DeleteCapturedUrl(added);
      break;
    }
    if (failed) {
      if (!s.unattended && Ask("Error Encountered. End Auto-Capture?"))
        i = s.up ? s.high + std::int64_t{10} : s.low - std::int64_t{10};
      DeleteCapturedUrl(added);
    } else if (!s.unattended && !Ask("Keep this Photo?")) {
      DeleteCapturedUrl(added);
      if (Ask("End Auto-Capture?")) i = s.high + std::int64_t{10};
    }
    i += s.up ? 1 : -1;
    if (!AutoCB->Checked()) i = s.high + std::int64_t{1};
  }
}

void TType2EditForm::Process() {
  if (running_) return;
  TDatamodule1& dm = *Datamodule1;
  dataset::TTolmidTable& type2 = *dm.Type2Table;
  dataset::TTolmidTable& type3 = *dm.Type3Table;
  dataset::TTolmidTable& defaults = *dm.DefaultsTable;
  NMHTTP1->Disconnect();
  NMHTTP1->SetInputFileMode(true);
  AutoCB->SetChecked(true);
  type2.First();
  const std::shared_ptr<bool> alive = alive_;
  RunScope run(*this);
  while (!type2.Eof()) {
    const std::string url = type2.FieldByName("ActivityName")->AsString();
    const std::string category = type2.FieldByName("Category")->AsString();
    const std::string extension = UrlExtension(url);
    // The numbers are used up even when the fetch fails.
    int picture_number = 0;
    int photo_number = 0;
    {
      struct CloseTable {
        dataset::TTolmidTable& t;
        ~CloseTable() { t.Close(); }
      } close{defaults};
      picture_number = TakeCounter(defaults, "nextpicnum", 0);
      photo_number = TakeCounter(defaults, "nextType3Num", 0);
    }
    const std::string file = PictureFileName(picture_number, extension, MaskCB->Checked());
    if (!AutoCB->Checked()) break;

    // The client writes the file only once the whole body is there.
    const std::string pending = PendingPictureName(file);
    NMHTTP1->SetBody(pending);
    NMHTTP1->Get(url);
    FetchedPicture fetched(pending);
    ProcessStep("picture fetched");
    if (!*alive || !AutoCB->Checked()) break;
    // The view fetches the URL again into "temp", which stays there.
    if (!View(url)) break;
    ProcessStep("picture viewed");

    type3.Insert();
    try {
      type3.FieldByName("type3Num")->SetAsInteger(photo_number);
      type3.FieldByName("filename")->SetAsString(file);
      type3.FieldByName("resourcename")->SetAsString(url);
      type3.FieldByName("PhotoURL")->SetAsString(url);
      type3.FieldByName("PhotoDate")->SetAsDateTime(fw::Now());
      type3.FieldByName("Category")->SetAsString(category);
      type3.Post();
    } catch (...) {
      type3.Cancel();
      throw;
    }
    ProcessStep("photo posted");
    // From here the photo waits for its picture: a failed move leaves the
    // pending file for the next start to put in place.
    fetched.Keep();
    if (!platform::MoveFile(pending, file))
      throw fw::EFCreateError("Cannot move " + fw::NativeFileName(pending) + " to " + fw::NativeFileName(file));
    ProcessStep("picture in place");
    type2.Delete();
    ProcessStep("captured URL deleted");
    if (!AutoCB->Checked()) break;
  }
}

}  // namespace app
