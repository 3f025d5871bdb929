#include "app/main_form.h"

#include "app/data_module.h"
#include "app/home.h"

namespace app {

TMainForm* MainForm = nullptr;

namespace {

const fw::TFont kHeaderFont{"", 10, fw::clNavy, true};

// A caption label of a detail box.
void FieldLabel(TMainForm& form, fw::TWinControl* parent, const std::string& name, const std::string& text, int left,
             int top) {
  auto* l = form.Make<fw::TLabel>(name, parent);
  l->SetCaption(text);
  l->SetBounds(left, top, l->Width(), l->Height());
}

fw::TPanel* Header(TMainForm& form, fw::TWinControl* page, const std::string& name, fw::TLabel*& label,
                   const std::string& text) {
  auto* p = form.Make<fw::TPanel>(name, page);
  p->SetHeight(30);
  p->SetAlign(fw::TAlign::alTop);
  p->SetBevelOuter(fw::TPanelBevel::bvNone);
  label = form.Make<fw::TLabel>(name + "Label", p);
  label->SetFont(kHeaderFont);
  label->SetCaption(text);
  label->SetBounds(8, 7, label->Width(), label->Height());
  return p;
}

fw::TDBGrid* Grid(TMainForm& form, fw::TWinControl* page, const std::string& name, int width) {
  auto* g = form.Make<fw::TDBGrid>(name, page);
  g->SetWidth(width);
  g->SetAlign(fw::TAlign::alLeft);
  g->SetOptions(fw::dgTitles | fw::dgIndicator | fw::dgColumnResize | fw::dgColLines | fw::dgRowLines | fw::dgTabs |
                fw::dgRowSelect | fw::dgAlwaysShowSelection | fw::dgConfirmDelete | fw::dgCancelOnExit);
  return g;
}

fw::TScrollBox* DetailBox(TMainForm& form, fw::TWinControl* page, const std::string& name) {
  auto* b = form.Make<fw::TScrollBox>(name, page);
  b->SetAlign(fw::TAlign::alClient);
  return b;
}

template <class T>
T* ReadOnly(TMainForm& form, fw::TWinControl* parent, const std::string& name, int left, int top, int width,
            int height) {
  auto* c = form.Make<T>(name, parent);
  c->SetBounds(left, top, width, height);
  c->SetReadOnly(true);
  return c;
}

}  // namespace

TMainForm::TMainForm(fw::TComponent* owner) : TForm(owner) {
  SetName("MainForm");
  SetCaption("Morvella Software");
  SetPosition(fw::TPosition::poScreenCenter);
  BuildMenus();
  SetBounds(0, 0, 634, 481);
  BuildPanels();
  BuildNotebook();
  BuildHiddenState();
  NMHTTP1 = new fw::TNMHTTP(this);
  NMHTTP1->SetName("NMHTTP1");
  WireEvents();
}

TMainForm::~TMainForm() {
  if (MainForm == this) MainForm = nullptr;
}

void TMainForm::BuildMenus() {
  MainMenu1 = new fw::TMainMenu(this);
  MainMenu1->SetName("MainMenu1");
  auto item = [this](fw::TMenuItem* parent, const std::string& name, const std::string& caption) {
    auto* i = new fw::TMenuItem(this);
    i->SetName(name);
    i->SetCaption(caption);
    if (parent != nullptr)
      parent->Add(i);
    else
      MainMenu1->Add(i);
    return i;
  };
  File1 = item(nullptr, "File1", "&File");
  New1 = item(File1, "New1", "&New");
  Edit1 = item(File1, "Edit1", "&Edit");
  Delete1 = item(File1, "Delete1", "&Delete");
  Exit1 = item(File1, "Exit1", "E&xit");
  Views1 = item(nullptr, "Views1", "&Views");
  ResourceCategories1 = item(Views1, "ResourceCategories1", "&Resource Categories");
  CapturedPhotos1 = item(Views1, "CapturedPhotos1", "&Captured Photos");
  PhotoAlbum1 = item(Views1, "PhotoAlbum1", "&Photo Album");
  InternetLinks1 = item(Views1, "InternetLinks1", "Internet &Links");
  Help1 = item(nullptr, "Help1", "&Help");
  UserGuide1 = item(Help1, "UserGuide1", "&User Guide");
  HelpdeskTechnicalSupport1 = item(Help1, "HelpdeskTechnicalSupport1", "Helpdesk/&Technical Support");
  About1 = item(Help1, "About1", "&About...");
  // New, Edit and Delete wait for the first listing, as their buttons do.
  for (fw::TMenuItem* i : {New1, Edit1, Delete1}) i->SetEnabled(false);
  SetMenu(MainMenu1);
}

void TMainForm::BuildPanels() {
  TopPanel = Make<fw::TPanel>("TopPanel", this);
  TopPanel->SetHeight(45);
  TopPanel->SetAlign(fw::TAlign::alTop);
  fw::TSpeedButton** modes[] = {&Type1But, &Type2But, &Type3But, &Type4But};
  const char* captions[] = {"Category", "Capture", "Photos", "Internet"};
  for (int i = 0; i < 4; ++i) {
    auto* b = Make<fw::TSpeedButton>("Type" + std::to_string(i + 1) + "But", TopPanel);
    b->SetCaption(captions[i]);
    b->SetBounds(8 + 96 * i, 6, 90, 33);
    *modes[i] = b;
  }
  ExitBut = Make<fw::TSpeedButton>("ExitBut", TopPanel);
  ExitBut->SetCaption("Exit");
  ExitBut->SetBounds(TopPanel->ClientWidth() - 98, 6, 90, 33);
  ExitBut->SetAnchors(fw::akRight | fw::akTop);

  TextPanel = Make<fw::TPanel>("TextPanel", this);
  TextPanel->SetBounds(0, 45, ClientWidth(), 30);
  TextPanel->SetAlign(fw::TAlign::alTop);
  ActionLabel = Make<fw::TLabel>("ActionLabel", TextPanel);
  ActionLabel->SetFont(kHeaderFont);
  ActionLabel->SetCaption("Click One of the Buttons Above to Begin");
  ActionLabel->SetBounds(10, 7, ActionLabel->Width(), ActionLabel->Height());

  ButtonPanel = Make<fw::TPanel>("ButtonPanel", this);
  ButtonPanel->SetHeight(41);
  ButtonPanel->SetAlign(fw::TAlign::alBottom);
  auto button = [this](fw::TButton*& b, const std::string& name, const std::string& caption, int left) {
    b = Make<fw::TButton>(name, ButtonPanel);
    b->SetCaption(caption);
    b->SetBounds(left, 8, 75, 25);
  };
  button(NewBut, "NewBut", "New", 8);
  button(EditBut, "EditBut", "Edit", 88);
  button(DeleteBut, "DeleteBut", "Delete", 168);
  button(ReportsBut, "ReportsBut", "Reports", 264);
  button(GraphsBut, "GraphsBut", "Graphs", 344);
  button(zapbut, "zapbut", "zapbut", 424);
  for (fw::TButton* b : {NewBut, EditBut, DeleteBut}) b->SetEnabled(false);
  for (fw::TButton* b : {GraphsBut, zapbut}) b->SetVisible(false);
  BitBtn2 = Make<fw::TBitBtn>("BitBtn2", ButtonPanel);
  BitBtn2->SetCaption("Exit");
  BitBtn2->SetBounds(ButtonPanel->ClientWidth() - 83, 8, 75, 25);
  BitBtn2->SetAnchors(fw::akRight | fw::akTop);

  ResultsPanel = Make<fw::TPanel>("ResultsPanel", this);
  ResultsPanel->SetBevelOuter(fw::TPanelBevel::bvLowered);
  ResultsPanel->SetAlign(fw::TAlign::alClient);

  OptionsGB = Make<fw::TGroupBox>("OptionsGB", ResultsPanel);
  OptionsGB->SetBounds(5, 5, 327, 266);
  OptionsGB->SetVisible(false);
  FrontPanel = Make<fw::TPanel>("FrontPanel", OptionsGB);
  FrontPanel->SetBounds(5, 15, 306, 229);
  FrontPanel->SetBorderWidth(3);
  FrontPanel->SetBevelOuter(fw::TPanelBevel::bvLowered);
  FrontImage = Make<fw::TImage>("FrontImage", FrontPanel);
  FrontImage->SetBounds(4, 4, 297, 220);
  FrontImage->SetAutoSize(true);
}

void TMainForm::BuildNotebook() {
  FunctionPad = Make<fw::TTabbedNotebook>("FunctionPad", ResultsPanel);
  FunctionPad->SetAlign(fw::TAlign::alClient);
  FunctionPad->SetHint(
      "Click anywhere on this form, or double-click the item listed to the left, to open up the related Edit "
      "screen");
  FunctionPad->SetShowHint(false);
  // Pages get their final size from the notebook when it shows; until
  // then they take the notebook's, so that their aligned children start
  // in place.
  auto page = [this](const std::string& caption, const std::string& name) {
    fw::TTabPage* p = FunctionPad->AddPage(caption, name);
    p->SetBounds(0, 0, FunctionPad->Width(), FunctionPad->Height());
    return p;
  };

  CategoryPage = page("Category", "CategoryPage");
  CategoryHeader = Header(*this, CategoryPage, "CategoryHeader", CategoryHeaderLabel, "Resource Categories");
  CategoryFilterCB = Make<fw::TCheckBox>("CategoryFilterCB", CategoryHeader);
  CategoryFilterCB->SetCaption("List only resources from this category");
  CategoryFilterCB->SetBounds(200, 6, 280, 19);
  RecipientGrid = Grid(*this, CategoryPage, "RecipientGrid", 330);
  RecipientScrollBox = DetailBox(*this, CategoryPage, "RecipientScrollBox");
  FieldLabel(*this, RecipientScrollBox, "RecipientNameLabel", "Category", 8, 8);
  RecipientNameEdit = ReadOnly<fw::TDBEdit>(*this, RecipientScrollBox, "RecipientNameEdit", 8, 24, 260, 21);
  FieldLabel(*this, RecipientScrollBox, "RecipientDetailsLabel", "Category Description", 8, 54);
  RecipientDetailsMemo = ReadOnly<fw::TDBMemo>(*this, RecipientScrollBox, "RecipientDetailsMemo", 8, 70, 260, 170);

  CapturePage = page("Capture", "CapturePage");
  CaptureHeader = Header(*this, CapturePage, "CaptureHeader", CaptureHeaderLabel, "Captured Photo URLs");
  DeleteCaptureBut = Make<fw::TButton>("DeleteCaptureBut", CaptureHeader);
  DeleteCaptureBut->SetCaption("ZAP All");
  DeleteCaptureBut->SetBounds(200, 3, 75, 24);
  RevenueGrid = Grid(*this, CapturePage, "RevenueGrid", 330);
  RevenueScrollBox = DetailBox(*this, CapturePage, "RevenueScrollBox");
  FieldLabel(*this, RevenueScrollBox, "RevenueURLLabel", "URL", 8, 8);
  RevenueURLMemo = ReadOnly<fw::TDBMemo>(*this, RevenueScrollBox, "RevenueURLMemo", 8, 24, 260, 100);
  BitBtn1 = Make<fw::TBitBtn>("BitBtn1", RevenueScrollBox);
  BitBtn1->SetCaption("Capture");
  BitBtn1->SetBounds(8, 132, 75, 25);
  BitBtn1->SetVisible(false);

  PhotosPage = page("Photos", "PhotosPage");
  PhotosHeader = Header(*this, PhotosPage, "PhotosHeader", PhotosHeaderLabel, "Photos");
  DeleteAllBut = Make<fw::TButton>("DeleteAllBut", PhotosHeader);
  DeleteAllBut->SetCaption("ZAP All");
  DeleteAllBut->SetBounds(200, 3, 75, 24);
  ExpenseGrid = Grid(*this, PhotosPage, "ExpenseGrid", 380);
  ExpenseScrollBox = DetailBox(*this, PhotosPage, "ExpenseScrollBox");
  // The detail boxes show whole without scrolling at the window's
  // designed size (about 248 x 283 here, 296 x 283 on "Internet").
  FieldLabel(*this, ExpenseScrollBox, "ExpenseNameLabel", "Photo Name", 8, 4);
  ExpenseNameEdit = ReadOnly<fw::TDBEdit>(*this, ExpenseScrollBox, "ExpenseNameEdit", 8, 19, 230, 21);
  FieldLabel(*this, ExpenseScrollBox, "ExpenseDetailsLabel", "Photo Description:", 8, 44);
  ExpenseDetailsMemo = ReadOnly<fw::TDBMemo>(*this, ExpenseScrollBox, "ExpenseDetailsMemo", 8, 59, 230, 36);
  FieldLabel(*this, ExpenseScrollBox, "ExpenseDateLabel", "Date", 8, 102);
  ExpenseDateEdit = ReadOnly<fw::TDBEdit>(*this, ExpenseScrollBox, "ExpenseDateEdit", 40, 99, 90, 21);
  ReProcessBut = Make<fw::TButton>("ReProcessBut", ExpenseScrollBox);
  ReProcessBut->SetCaption("Re-Process");
  ReProcessBut->SetBounds(140, 97, 90, 25);
  // The photo's panel: 165 x 151 before a picture is fitted into it.
  Panel4 = Make<fw::TPanel>("Panel4", ExpenseScrollBox);
  Panel4->SetBounds(8, 126, 165, 151);
  Panel4->SetBevelOuter(fw::TPanelBevel::bvNone);
  PicBevel = Make<fw::TBevel>("PicBevel", Panel4);
  PicBevel->SetBounds(4, 4, 157, 143);
  Image1 = Make<fw::TImage>("Image1", Panel4);
  Image1->SetBounds(9, 9, 147, 133);
  Image1->SetVisible(false);

  InternetPage = page("Internet", "InternetPage");
  InternetHeader = Header(*this, InternetPage, "InternetHeader", InternetHeaderLabel, "Internet Links");
  InternetGrid = Grid(*this, InternetPage, "InternetGrid", 330);
  InternetScrollBox = DetailBox(*this, InternetPage, "InternetScrollBox");
  FieldLabel(*this, InternetScrollBox, "InternetNameLabel", "Link Name", 8, 4);
  InternetNameEdit = ReadOnly<fw::TDBEdit>(*this, InternetScrollBox, "InternetNameEdit", 8, 19, 262, 21);
  FieldLabel(*this, InternetScrollBox, "InternetURLLabel", "Link URL", 8, 44);
  InternetURLEdit = ReadOnly<fw::TDBEdit>(*this, InternetScrollBox, "InternetURLEdit", 8, 59, 262, 21);
  FieldLabel(*this, InternetScrollBox, "InternetCategoryLabel", "Category", 8, 84);
  InternetCategoryCombo = ReadOnly<fw::TDBComboBox>(*this, InternetScrollBox, "InternetCategoryCombo", 8, 99, 262, 21);
  for (const char* c : {"Fish Health", "Feeding Habits", "Breeding Habits", "Plant Health", "Tank Maintenance",
                        "Purchases", "Research", "Various / Other"})
    InternetCategoryCombo->Items().Add(c);
  FieldLabel(*this, InternetScrollBox, "InternetDetailsLabel", "Link Description:", 8, 124);
  InternetDetailsMemo = ReadOnly<fw::TDBMemo>(*this, InternetScrollBox, "InternetDetailsMemo", 8, 139, 125, 100);
  pic = Make<fw::TDBImage>("pic", InternetScrollBox);
  pic->SetBounds(141, 126, 129, 113);
  pic->SetStretch(true);
  pic->SetReadOnly(true);

  FunctionPad->SetPageIndex(0);
  FunctionPad->SetVisible(false);
}

void TMainForm::BuildHiddenState() {
  auto label = [this](fw::TLabel*& l, const std::string& name, const std::string& caption) {
    l = Make<fw::TLabel>(name, ButtonPanel);
    l->SetCaption(caption);
    l->SetBounds(430, 12, l->Width(), l->Height());
    l->SetVisible(false);
  };
  label(ModeLabel, "ModeLabel", "Introduction Window");
  label(NextActionLabel, "NextActionLabel", "Introduction Window");
  label(DirectoryLabel, "DirectoryLabel", "");
  auto check = [this](fw::TCheckBox*& c, const std::string& name, bool checked) {
    c = Make<fw::TCheckBox>(name, ButtonPanel);
    c->SetCaption(name);
    c->SetBounds(430, 12, 100, 17);
    c->SetChecked(checked);
    c->SetVisible(false);
  };
  check(InitialLoadCB, "InitialLoadCB", true);
  check(ShowHintsCB, "ShowHintsCB", false);
  Memo1 = Make<fw::TMemo>("Memo1", ButtonPanel);
  Memo1->SetBounds(430, 4, 100, 30);
  Memo1->SetVisible(false);
}

void TMainForm::WireEvents() {
  using S = fw::TComponent*;
  OnCreate = [this](S s) { FormCreate(s); };
  OnActivate = [this](S s) { FormActivate(s); };
  OnClose = [this](S s, fw::TCloseAction& a) { FormClose(s, a); };
  Type1But->OnClick = [this](S s) { Type1ButClick(s); };
  Type2But->OnClick = [this](S s) { Type2ButClick(s); };
  Type3But->OnClick = [this](S s) { Type3ButClick(s); };
  Type4But->OnClick = [this](S s) { Type4ButClick(s); };
  ResourceCategories1->OnClick = [this](S s) { ResourceCategories1Click(s); };
  CapturedPhotos1->OnClick = [this](S s) { CapturedPhotos1Click(s); };
  PhotoAlbum1->OnClick = [this](S s) { PhotoAlbum1Click(s); };
  InternetLinks1->OnClick = [this](S s) { InternetLinks1Click(s); };
  FunctionPad->OnClick = [this](S s) { FunctionPadClick(s); };
  NewBut->OnClick = [this](S s) { NewButClick(s); };
  New1->OnClick = [this](S s) { New1Click(s); };
  BitBtn1->OnClick = [this](S s) { BitBtn1Click(s); };
  EditBut->OnClick = [this](S s) { EditButClick(s); };
  Edit1->OnClick = [this](S s) { Edit1Click(s); };
  for (fw::TDBGrid* g : {RecipientGrid, RevenueGrid, ExpenseGrid, InternetGrid})
    g->OnDblClick = [this](S s) { GridDblClick(s); };
  DeleteBut->OnClick = [this](S s) { DeleteButClick(s); };
  Delete1->OnClick = [this](S s) { Delete1Click(s); };
  DeleteCaptureBut->OnClick = [this](S s) { DeleteCaptureButClick(s); };
  DeleteAllBut->OnClick = [this](S s) { DeleteAllButClick(s); };
  ExpenseGrid->OnCellClick = [this](S s) { ExpenseGridCellClick(s); };
  ExpenseGrid->OnKeyUp = [this](S s, int& key, unsigned shift) { ExpenseGridKeyUp(s, key, shift); };
  ReProcessBut->OnClick = [this](S s) { ReProcessButClick(s); };
  CategoryFilterCB->OnClick = [this](S s) { CategoryFilterCBClick(s); };
  ReportsBut->OnClick = [this](S s) { ReportsButClick(s); };
  GraphsBut->OnClick = [this](S s) { GraphsButClick(s); };
  About1->OnClick = [this](S s) { About1Click(s); };
  UserGuide1->OnClick = [this](S s) { UserGuide1Click(s); };
  HelpdeskTechnicalSupport1->OnClick = [this](S s) { HelpdeskTechnicalSupport1Click(s); };
  BitBtn2->OnClick = [this](S s) { BitBtn2Click(s); };
  ExitBut->OnClick = [this](S s) { ExitButClick(s); };
  Exit1->OnClick = [this](S s) { Exit1Click(s); };
  zapbut->OnClick = [this](S s) { zapbutClick(s); };
}

void TMainForm::ConnectDataSources(TDatamodule1& module) {
  RecipientGrid->SetDataSource(module.Type1Source);
  RecipientGrid->AddColumn("JournalName", "Category", 300);
  RevenueGrid->SetDataSource(module.Type2Source);
  RevenueGrid->AddColumn("ActivityName", "Photo URL", 300);
  ExpenseGrid->SetDataSource(module.Type3Source);
  ExpenseGrid->AddColumn("ResourceName", "Photo Name", 350);
  InternetGrid->SetDataSource(module.Type4Source);
  InternetGrid->AddColumn("LinkName", "Link Name", 300);
  auto bind = [](fw::TFieldControl* c, fw::TDataSource* source, const char* field) {
    c->SetDataSource(source);
    c->SetDataField(field);
  };
  bind(RecipientNameEdit, module.Type1Source, "JournalName");
  bind(RecipientDetailsMemo, module.Type1Source, "Details");
  bind(RevenueURLMemo, module.Type2Source, "ActivityName");
  bind(ExpenseNameEdit, module.Type3Source, "ResourceName");
  bind(ExpenseDateEdit, module.Type3Source, "PhotoDate");
  bind(ExpenseDetailsMemo, module.Type3Source, "Details");
  bind(InternetNameEdit, module.Type4Source, "LinkName");
  bind(InternetURLEdit, module.Type4Source, "URL");
  bind(InternetCategoryCombo, module.Type4Source, "Category");
  bind(InternetDetailsMemo, module.Type4Source, "Details");
  bind(pic, module.Type4Source, "pic");
}

void TMainForm::FormCreate(fw::TComponent*) { DirectoryLabel->SetCaption(HomeDirectory()); }

void TMainForm::FormClose(fw::TComponent*, fw::TCloseAction&) {
  if (Datamodule1 == nullptr) return;
  SaveData();
  TDatamodule1& dm = *Datamodule1;
  for (dataset::TTolmidTable* t : {dm.Type1Table, dm.Type2Table, dm.Type3Table, dm.Type4Table, dm.DefaultsTable})
    t->Close();
}

void TMainForm::SaveData() {
  for (int kind = 1; kind <= 4; ++kind) {
    dataset::TTolmidTable* t = Datamodule1->TypeTable(kind);
    if (t->State() == fw::TDataSetState::dsEdit || t->State() == fw::TDataSetState::dsInsert) t->Post();
  }
}

void TMainForm::CancelData() {
  for (int kind = 1; kind <= 4; ++kind) {
    dataset::TTolmidTable* t = Datamodule1->TypeTable(kind);
    if (t->State() == fw::TDataSetState::dsEdit || t->State() == fw::TDataSetState::dsInsert) t->Cancel();
  }
}

}  // namespace app
