// The main window's flows after a real start, driven through its buttons
// and menus with scripted confirmations and scripted editors: listing each
// mode (by button, menu and tab), New/Edit/Cancel/Delete with the record
// numbering, deleting photos with their picture files, ZAP All with the
// picture files on disk, the category filter, Re-Process.
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <set>

#include "app/type3_edit_form.h"
#include "framework/dbctrls/db_edit.h"
#include "framework/forms/clipboard.h"
#include "tests/app/app_test_support.h"

namespace apptest {
namespace {

class MainWindowTest : public StartedCatalogueTest {
 protected:
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

  int editors_ = 0;
};

// New at 1000 gives 1000 and leaves 1001, a counter of 0 gives 1000, a
// cancelled record keeps its number used; the photo editor posts what was
// typed even on Cancel, the other editors discard it.
TEST_F(MainWindowTest, NewEditCancelAndDeleteInEachMode) {
  app::TMainForm& m = Main();
  struct Kind {
    int kind;
    fw::TSpeedButton* button;
    const char* editor;
    const char* name_field;
    const char* name_edit;
    const char* question;
    fw::TScrollBox* details;
    bool cancel_keeps;
    int counter;  // before the first New
  };
  const Kind kinds[] = {
      {1, m.Type1But, "Edit Category Entry", "JournalName", "AffNameTE", "Delete This Category Entry?",
       m.RecipientScrollBox, false, 1000},
      {3, m.Type3But, "Edit Photo Information", "ResourceName", "AffNameTE", "Delete This Photo?",
       m.ExpenseScrollBox, true, 1000},
      {4, m.Type4But, "Edit Internet Link", "LinkName", "LinkNameTE", "Delete This Internet Link?",
       m.InternetScrollBox, false, 0},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.kind);
    const std::string num = "Type" + std::to_string(k.kind) + "Num";
    SetAppCounter("Next" + num, k.counter);
    k.button->Click();
    EXPECT_EQ(m.ModeLabel->Caption(), "Type" + std::to_string(k.kind));
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

// The tabs and the "Views" menu list the same kinds as the mode buttons:
// each reaches its mode, the title and the page.
TEST_F(MainWindowTest, TabsAndViewsMenuReachTheirKind) {
  app::TMainForm& m = Main();
  struct Kind {
    const char* mode;
    const char* title;
    const char* page;
    fw::TMenuItem* item;
  };
  const Kind kinds[] = {
      {"Type1", "Browsing All Morvella Category Entries", "Category", m.ResourceCategories1},
      {"Type2", "Browsing All Morvella Captured Photo Entries", "Capture", m.CapturedPhotos1},
      {"Type3", "Browsing All Morvella Photos", "Photos", m.PhotoAlbum1},
      {"Type4", "Browsing All Morvella Internet Links", "Internet", m.InternetLinks1},
  };
  auto expect_kind = [&](const Kind& k) {
    EXPECT_EQ(m.ModeLabel->Caption(), k.mode);
    EXPECT_EQ(m.Caption(), k.title);
    EXPECT_EQ(m.ActionLabel->Caption(), k.title);
    EXPECT_EQ(m.FunctionPad->ActivePage(), k.page);
    EXPECT_TRUE(m.FunctionPad->Visible());
  };
  // In an order that moves away from each kind before coming back.
  for (const int i : {2, 0, 3, 1}) {
    SCOPED_TRACE(kinds[i].page);
    kinds[i].item->Click();
    expect_kind(kinds[i]);
  }
  auto* tabs = m.FunctionPad->Widget()->findChild<QTabBar*>();
  ASSERT_NE(tabs, nullptr);
  for (const int i : {3, 0, 2, 1}) {
    SCOPED_TRACE(std::string("tab ") + kinds[i].page);
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(i).center());
    expect_kind(kinds[i]);
  }
}

// A photo deleted from the main window or from the photo editor takes its
// picture file with it; the other photo's file stays.
TEST_F(MainWindowTest, DeletingAPhotoRemovesItsPictureFile) {
  app::TMainForm& m = Main();
  const struct {
    const char* road;
    std::function<void()> delete_photo;
  } roads[] = {
      {"main window", [&] { m.DeleteBut->Click(); }},
      {"photo editor", [&] {
         app_->OnModalShown = [](fw::TForm& f) {
           auto& editor = dynamic_cast<app::TType3EditForm&>(f);
           editor.DeleteBut->Click();
           editor.OKBut->Click();
         };
         m.EditBut->Click();
         app_->OnModalShown = nullptr;
       }},
  };
  for (const auto& r : roads) {
    SCOPED_TRACE(r.road);
    WriteBytes(Data("5.jpg"), JpegBytes(20, 10));
    WriteBytes(Data("6"), JpegBytes(20, 10));
    Put(3, {{"ResourceName", "P"}, {"Filename", "data\\5.jpg"}, {"PhotoURL", "http://h/p.jpg"}});
    Put(3, {{"ResourceName", "Q"}, {"Filename", "data\\6"}, {"PhotoURL", "http://h/q.jpg"}});
    m.Type3But->Click();
    Locate(3, "ResourceName", "P");
    boxes_.requests.clear();
    boxes_.Answer(fw::mrYes);
    r.delete_photo();
    EXPECT_EQ(boxes_.Texts(), Names{"Delete This Photo?"});
    EXPECT_EQ(Column(3, "ResourceName"), Names{"Q"});
    EXPECT_FALSE(fs::exists(Data("5.jpg")));
    EXPECT_TRUE(fs::exists(Data("6")));
    app::Datamodule1->Type3Table->First();
    app::Datamodule1->Type3Table->Delete();
    fs::remove(Data("6"));
  }
}

// A counter that reads 0 (a catalogue whose counters were never set)
// numbers the first record of every kind 1000, not 0.
TEST_F(MainWindowTest, ACounterOfZeroGivesTheFirstNumber1000) {
  app::TMainForm& m = Main();
  const struct {
    int kind;
    fw::TSpeedButton* mode;
  } kinds[] = {{1, m.Type1But}, {3, m.Type3But}, {4, m.Type4But}};
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.kind);
    const std::string num = "Type" + std::to_string(k.kind) + "Num";
    SetAppCounter("Next" + num, 0);
    k.mode->Click();
    app_->OnModalShown = [](fw::TForm& f) { dynamic_cast<fw::TButton&>(*f.FindComponent("OKBut")).Click(); };
    m.NewBut->Click();
    app_->OnModalShown = nullptr;
    EXPECT_EQ(Column(k.kind, num), Names{"1000"});
    EXPECT_EQ(AppCounter("Next" + num), 1001);
  }
  // Captured URLs: the capture window numbers its own records.
  SetAppCounter("NextType2Num", 0);
  m.Type2But->Click();
  fw::Clipboard().SetAsText("http://pictures.example/a.jpg");
  app_->OnModalShown = [](fw::TForm& f) {
    dynamic_cast<fw::TButton&>(*f.FindComponent("CaptureBut")).Click();
    dynamic_cast<fw::TButton&>(*f.FindComponent("OKBut")).Click();
  };
  m.NewBut->Click();
  app_->OnModalShown = nullptr;
  EXPECT_EQ(Column(2, "Type2Num"), Names{"1000"});
  EXPECT_EQ(Counter("NextType2Num"), 1001);
}

std::set<std::string> DataFiles(const fs::path& dir) {
  std::set<std::string> out;
  for (const auto& [name, bytes] : DirBytes(dir)) out.insert(name);
  return out;
}

// The category filter with a quote in the category's name; ZAP All under
// it takes only that category's photos, each record before its picture
// file, and no file that is not a photo's own picture in the data folder.
TEST_F(MainWindowTest, CategoryFilterAndZapAll) {
  app::TMainForm& m = Main();
  const std::string cat = "O'Brien's";
  Put(1, {{"JournalName", "Fish"}, {"Type1Num", "1000"}});
  Put(1, {{"JournalName", cat}, {"Type1Num", "1001"}});
  WriteBytes(home_ / "outside.txt", "not a picture");
  for (const char* f : {"1.jpg", "keep"}) WriteBytes(Data(f), f);
  WriteBytes(Data("2"), JpegBytes(30, 20));
  WriteBytes(Data("3.gif"), GifBytes(30, 20));
  fs::create_symlink(home_ / "outside.txt", Data("link"));
  const std::set<std::string> tables = DataFiles(Data());
  Put(3, {{"ResourceName", "A"}, {"Filename", "data\\1.jpg"}, {"Category", "Fish"}});
  char name = 'B';
  for (const char* file : {"data\\2", "DATA/3.gif", "data\\type1.dat", "data\\TYPE3.IDX", "data\\..\\outside.txt",
                           "..\\outside.txt", "data\\link", "data\\missing", "data"})
    Put(3, {{"ResourceName", std::string(1, name++)}, {"Filename", file}, {"Category", cat},
            {"PhotoURL", "http://h/x.jpg"}});
  for (int kind : {2, 4}) {
    const std::string name = kind == 2 ? "ActivityName" : "LinkName";
    Put(kind, {{name, "fish " + std::to_string(kind)}, {"Category", "Fish"}});
    Put(kind, {{name, "quoted " + std::to_string(kind)}, {"Category", cat}});
  }

  m.Type1But->Click();
  Locate(1, "JournalName", cat);
  m.CategoryFilterCB->SetChecked(true);
  Locate(1, "JournalName", "Fish");  // the filter stays with the category clicked
  EXPECT_EQ(Column(2, "ActivityName"), Names{"quoted 2"});
  EXPECT_EQ(Column(4, "LinkName"), Names{"quoted 4"});
  m.Type3But->Click();
  EXPECT_EQ(Column(3, "ResourceName"), (Names{"B", "C", "D", "E", "F", "G", "H", "I", "J"}));

  boxes_.Answer(fw::mrNo).Answer(fw::mrYes);
  m.DeleteAllBut->Click();
  EXPECT_EQ(Column(3, "ResourceName").size(), 9u);
  m.DeleteAllBut->Click();
  EXPECT_EQ(boxes_.Texts(), (Names{"Delete All Photos?", "Delete All Photos?"}));
  EXPECT_TRUE(Column(3, "ResourceName").empty());
  EXPECT_FALSE(m.DeleteBut->Enabled() || m.ExpenseScrollBox->Visible());
  std::set<std::string> left = tables;
  left.erase("2");
  left.erase("3.gif");
  EXPECT_EQ(DataFiles(Data()), left);
  EXPECT_EQ(ReadBytes(home_ / "outside.txt"), "not a picture");
  EXPECT_EQ(Rows("type1.dat").size(), 2u);

  m.CategoryFilterCB->SetChecked(false);
  EXPECT_EQ(Column(3, "ResourceName"), Names{"A"});
  EXPECT_EQ(Column(2, "ActivityName").size(), 2u);

  boxes_.requests.clear();
  boxes_.Answer(fw::mrYes);
  m.Type2But->Click();
  m.DeleteCaptureBut->Click();
  EXPECT_EQ(boxes_.Texts(), Names{"Delete All Captured Photo URLs?"});
  EXPECT_TRUE(Column(2, "ActivityName").empty());
  EXPECT_FALSE(m.EditBut->Enabled() || m.RevenueScrollBox->Visible());
}

// An edit that takes the only record the category filter shows out of it
// (its category changed in the editor) is posted and ends quietly, with
// nothing left to edit.
TEST_F(MainWindowTest, EditThatLeavesTheCategoryFilter) {
  app::TMainForm& m = Main();
  Put(1, {{"JournalName", "Fish"}});
  Put(1, {{"JournalName", "Plants"}});
  struct Case {
    int kind;
    fw::TSpeedButton* mode;
    const char* name_field;
  };
  const Case cases[] = {{3, m.Type3But, "ResourceName"}, {4, m.Type4But, "LinkName"}};
  for (const Case& c : cases) {
    Put(c.kind, {{c.name_field, "moved"}, {"Category", "Fish"}});
    Put(c.kind, {{c.name_field, "other"}, {"Category", "Plants"}});
  }
  m.Type1But->Click();
  Locate(1, "JournalName", "Fish");
  m.CategoryFilterCB->SetChecked(true);
  app_->OnModalShown = [](fw::TForm& f) {
    auto& lookup = dynamic_cast<fw::TDBLookupComboBox&>(*f.FindComponent("CategoryLookup"));
    for (int row = 0; row < lookup.ListModel().rowCount(); ++row)
      if (lookup.ListModel().CellText(row, 0) == "Plants") lookup.SelectRow(row);
    dynamic_cast<fw::TButton&>(*f.FindComponent("OKBut")).Click();
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    c.mode->Click();
    m.EditBut->Click();
    EXPECT_TRUE(boxes_.requests.empty());
    EXPECT_TRUE(Column(c.kind, c.name_field).empty());
    EXPECT_FALSE(m.EditBut->Enabled());
    EXPECT_EQ(m.NextActionLabel->Caption(), "None");
  }
  m.CategoryFilterCB->SetChecked(false);
  for (const Case& c : cases) EXPECT_EQ(Column(c.kind, "Category"), (Names{"Plants", "Plants"}));
}

// Re-Process asks before it changes anything; Yes makes the photo's URL a
// captured URL numbered from the counter as stored (0 stays 0) and removes
// the photo and its file.
TEST_F(MainWindowTest, ReProcessAsksFirst) {
  app::TMainForm& m = Main();
  WriteBytes(Data("5.jpg"), JpegBytes(20, 10));
  WriteBytes(Data("6.jpg"), JpegBytes(20, 10));
  Put(3, {{"ResourceName", "P"}, {"Filename", "data\\5.jpg"}, {"PhotoURL", "http://h/p.jpg"}});
  Put(3, {{"ResourceName", "Q"}, {"Filename", "data\\6.jpg"}, {"PhotoURL", "http://h/q.jpg"}});
  m.Type3But->Click();
  Locate(3, "ResourceName", "P");
  boxes_.Answer(fw::mrNo);
  m.ReProcessBut->Click();
  EXPECT_TRUE(Column(2, "ActivityName").empty());
  EXPECT_EQ(AppCounter("NextType2Num"), 1000);
  EXPECT_EQ(Column(3, "ResourceName").size(), 2u);
  EXPECT_TRUE(fs::exists(Data("5.jpg")));

  boxes_.Answer(fw::mrYes);
  m.ReProcessBut->Click();
  EXPECT_EQ(Column(2, "ActivityName"), Names{"http://h/p.jpg"});
  EXPECT_EQ(Column(2, "Type2Num"), Names{"1000"});
  EXPECT_EQ(AppCounter("NextType2Num"), 1001);
  EXPECT_EQ(Column(3, "ResourceName"), Names{"Q"});
  EXPECT_FALSE(fs::exists(Data("5.jpg")));
  // The photo now current shows.
  EXPECT_TRUE(m.Image1->Visible());
  EXPECT_EQ(m.Image1->Picture().Width(), 20);

  SetAppCounter("NextType2Num", 0);
  boxes_.Answer(fw::mrYes);
  m.ReProcessBut->Click();
  EXPECT_EQ(Column(2, "Type2Num"), (Names{"1000", "0"}));
  EXPECT_EQ(AppCounter("NextType2Num"), 1);
  EXPECT_TRUE(Column(3, "ResourceName").empty());
  EXPECT_FALSE(m.Image1->Visible());
  EXPECT_EQ(m.Image1->Picture().Graphic(), nullptr);
  EXPECT_EQ(boxes_.Texts(), Names(3, "Delete This Photo?"));
}

}  // namespace
}  // namespace apptest
