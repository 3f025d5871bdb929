// The main window's flows after a real start, driven through its buttons
// and menus with scripted confirmations and scripted editors: listing each
// mode, New/Edit/Cancel/Delete with the record numbering, ZAP All with the
// picture files on disk, the category filter, Re-Process.
#include <set>

#include "app/type2_edit_form.h"
#include "framework/dbctrls/db_edit.h"
#include "tests/app/app_test_support.h"

namespace apptest {
namespace {

class MainWindowTest : public CatalogueTest {
 protected:
  void SetUp() override {
    CatalogueTest::SetUp();
    ASSERT_TRUE(Start());
    Main().Show();
  }
  void TearDown() override {
    app_->OnModalShown = nullptr;
    CatalogueTest::TearDown();
  }

  // The next modal window: its caption and ModeLabel are checked, text is
  // typed into the control named edit (when given), then button is pressed.
  void NextEditor(const std::string& caption, const std::string& edit, const std::string& text,
                  const std::string& button) {
    app_->OnModalShown = [=, this](fw::TForm& form) {
      ++editors_;
      EXPECT_EQ(form.Caption(), caption);
      auto* mode = dynamic_cast<fw::TLabel*>(form.FindComponent("ModeLabel"));
      ASSERT_NE(mode, nullptr);
      EXPECT_EQ(mode->Caption(), Main().ModeLabel->Caption());
      if (!edit.empty()) dynamic_cast<fw::TDBEdit&>(*form.FindComponent(edit)).SetText(text);
      dynamic_cast<fw::TButton&>(*form.FindComponent(button)).Click();
    };
  }

  void Locate(int kind, const std::string& field, const std::string& value) {
    ASSERT_TRUE(app::Datamodule1->TypeTable(kind)->Locate(field, {fw::Variant(value)}, {}));
  }

  int editors_ = 0;
};

using Names = std::vector<std::string>;

// New at 1000 gives 1000 and leaves 1001, a counter of 0 gives 1000, a
// cancelled record keeps its number used; the photo editor posts what was
// typed even on Cancel, the other editors discard it.
TEST_F(MainWindowTest, NewEditCancelAndDeleteInEachMode) {
  app::TMainForm& m = Main();
  struct Kind {
    int kind;
    fw::TSpeedButton* button;
    const char* page;
    const char* title;
    const char* editor;
    const char* name_field;
    const char* name_edit;
    const char* question;
    fw::TScrollBox* details;
    bool cancel_keeps;
    int counter;  // before the first New
  };
  const Kind kinds[] = {
      {1, m.Type1But, "Category", "Browsing All Morvella Category Entries", "Edit Category Entry", "JournalName",
       "AffNameTE", "Delete This Category Entry?", m.RecipientScrollBox, false, 1000},
      {3, m.Type3But, "Photos", "Browsing All Morvella Photos", "Edit Photo Information", "ResourceName",
       "AffNameTE", "Delete This Photo?", m.ExpenseScrollBox, true, 1000},
      {4, m.Type4But, "Internet", "Browsing All Morvella Internet Links", "Edit Internet Link", "LinkName",
       "LinkNameTE", "Delete This Internet Link?", m.InternetScrollBox, false, 0},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.page);
    const std::string num = "Type" + std::to_string(k.kind) + "Num";
    SetAppCounter("Next" + num, k.counter);
    k.button->Click();
    EXPECT_EQ(m.ModeLabel->Caption(), "Type" + std::to_string(k.kind));
    EXPECT_EQ(m.Caption(), k.title);
    EXPECT_EQ(m.ActionLabel->Caption(), k.title);
    EXPECT_TRUE(m.FunctionPad->Visible());
    EXPECT_EQ(m.FunctionPad->ActivePage(), k.page);
    EXPECT_TRUE(m.NewBut->Enabled() && m.New1->Enabled());
    EXPECT_FALSE(m.EditBut->Enabled() || m.DeleteBut->Enabled() || k.details->Visible());

    NextEditor(k.editor, k.name_edit, "First", "OKBut");
    m.NewBut->Click();
    EXPECT_EQ(Column(k.kind, k.name_field), Names{"First"});
    EXPECT_EQ(Column(k.kind, num), Names{"1000"});
    EXPECT_EQ(AppCounter("Next" + num), 1001);
    EXPECT_TRUE(m.EditBut->Enabled() && m.Delete1->Enabled() && k.details->Visible());
    EXPECT_EQ(m.NextActionLabel->Caption(), "None");

    NextEditor(k.editor, k.name_edit, "Dropped", "CancelBut");
    m.New1->Click();
    EXPECT_EQ(AppCounter("Next" + num), 1002);
    EXPECT_EQ(Column(k.kind, k.name_field), (k.cancel_keeps ? Names{"Dropped", "First"} : Names{"First"}));

    Locate(k.kind, k.name_field, "First");
    NextEditor(k.editor, k.name_edit, "Changed", "CancelBut");
    m.EditBut->Click();
    Locate(k.kind, num, "1000");
    EXPECT_EQ(app::Datamodule1->TypeTable(k.kind)->FieldByName(k.name_field)->AsString(),
              k.cancel_keeps ? "Changed" : "First");
    NextEditor(k.editor, k.name_edit, "Renamed", "OKBut");
    m.Edit1->Click();
    EXPECT_EQ(app::Datamodule1->TypeTable(k.kind)->FieldByName(k.name_field)->AsString(), "Renamed");
    EXPECT_EQ(app::Datamodule1->TypeTable(k.kind)->FieldByName(num)->AsInteger(), 1000);

    // No keeps the record; deleting the last one disables Edit and Delete
    // and hides the detail box.
    const std::size_t records = Column(k.kind, num).size();
    boxes_.Answer(fw::mrNo);
    m.DeleteBut->Click();
    EXPECT_EQ(Column(k.kind, num).size(), records);
    for (std::size_t i = 0; i < records; ++i) {
      boxes_.Answer(fw::mrYes);
      m.Delete1->Click();
    }
    EXPECT_TRUE(Column(k.kind, num).empty());
    EXPECT_FALSE(m.EditBut->Enabled() || m.Edit1->Enabled() || m.DeleteBut->Enabled() || k.details->Visible());
    EXPECT_EQ(boxes_.Texts(), Names(records + 1, k.question));
    boxes_.requests.clear();
  }
  EXPECT_EQ(editors_, 4 * 3);
  EXPECT_EQ(Counter("NextType1Num"), 1002);  // on disk
  EXPECT_EQ(Counter("NextType4Num"), 1002);
}

// Capture mode: New and Edit open the capture window and insert nothing;
// the number is the capture window's to take.
TEST_F(MainWindowTest, CaptureModeOpensTheCaptureWindow) {
  app::TMainForm& m = Main();
  m.CapturedPhotos1->Click();
  EXPECT_EQ(m.Caption(), "Browsing All Morvella Captured Photo Entries");
  EXPECT_EQ(m.FunctionPad->ActivePage(), "Capture");
  NextEditor("Capture Photos", "", "", "CancelBut");
  m.NewBut->Click();
  EXPECT_EQ(editors_, 1);
  EXPECT_TRUE(Column(2, "Type2Num").empty());
  EXPECT_EQ(AppCounter("NextType2Num"), 1000);

  Put(2, {{"ActivityName", "http://host/a.jpg"}, {"Type2Num", "1000"}});
  m.Type2But->Click();
  EXPECT_TRUE(m.EditBut->Enabled() && m.RevenueScrollBox->Visible());
  NextEditor("Capture Photos", "", "", "OKBut");
  m.GridDblClick(m.RevenueGrid);
  EXPECT_EQ(editors_, 2);
  boxes_.Answer(fw::mrYes);
  m.DeleteBut->Click();
  EXPECT_EQ(boxes_.Texts(), Names{"Delete This Captured Photo URL?"});
  EXPECT_TRUE(Column(2, "Type2Num").empty());
  EXPECT_FALSE(m.DeleteBut->Enabled());
}

}  // namespace
}  // namespace apptest
