// TMainForm: the window the user works in. Four mode buttons (and the
// "&Views" menu) switch between the record kinds; each kind is browsed in
// a grid on its own page of the notebook FunctionPad, with a read-only
// detail box beside it; the button panel acts on the current kind.
//
// Layout (634 x 481, centred):
//   menu bar      "&File", "&Views", "&Help"
//   TopPanel      Type1But .. Type4But, ExitBut at the right     (alTop)
//   TextPanel     ActionLabel                                    (alTop)
//   ButtonPanel   NewBut EditBut DeleteBut ReportsBut .. BitBtn2 (alBottom)
//   ResultsPanel  OptionsGB (introduction, hidden) and FunctionPad
//                 (hidden until a mode is listed)                (alClient)
// Each notebook page: a header panel (alTop), the grid (alLeft) and the
// detail box (a scroll box, alClient).
//
// State lives in hidden controls that every handler reads back: ModeLabel
// (the current mode: "Type1" .. "Type4", "Program Options", ...),
// NextActionLabel (the action under way: "New", "Edit", "Delete",
// "DeleteAll", "None"), InitialLoadCB, ShowHintsCB, DirectoryLabel (the
// home directory) and the scratch memo Memo1.
//
// Where the code lives:
//   main_form.cpp           layout, data binding, FormCreate, FormClose,
//                           SaveData, CancelData
//   main_form_events.cpp    the event handlers: each control, menu item and
//                           window event mapped onto the procedures below;
//                           About, ExitSystem, the web pages, the report
//                           and graph windows, title and button state
//   main_form_modes.cpp     ListData, NewData, EditData, DeleteData,
//                           EnableWidgets, GetNextNum, UpdateCategoryFilter,
//                           ReProcess, InitialSetup, CrashRecovery,
//                           OpenFiles, zapbutClick
//   main_form_pictures.cpp  Updateimage, PlaceFrontImage and the placing of
//                           the front picture when its fetch ends
// The record editors (TType1EditForm .. TType4EditForm) are made by
// EditData, one modal showing each.
#pragma once

#include <exception>
#include <memory>
#include <string>

#include "framework/dbctrls/db_combo_box.h"
#include "framework/dbctrls/db_edit.h"
#include "framework/dbctrls/db_grid.h"
#include "framework/dbctrls/db_image.h"
#include "framework/forms/buttons.h"
#include "framework/forms/check_box.h"
#include "framework/forms/form.h"
#include "framework/forms/image.h"
#include "framework/forms/label.h"
#include "framework/forms/memo.h"
#include "framework/forms/menus.h"
#include "framework/forms/notebook.h"
#include "framework/forms/panels.h"
#include "framework/net/nm_http.h"

namespace dataset {
class TTolmidTable;
}

namespace app {

class TDatamodule1;

class TMainForm : public fw::TForm {
 public:
  explicit TMainForm(fw::TComponent* owner);
  ~TMainForm() override;

  // Binds the grids and detail controls to the data module's sources; the
  // start-up calls it once the module exists (it is made after this
  // window).
  void ConnectDataSources(TDatamodule1& module);

  // --- menus
  fw::TMainMenu* MainMenu1;
  fw::TMenuItem* File1;
  fw::TMenuItem* New1;
  fw::TMenuItem* Edit1;
  fw::TMenuItem* Delete1;
  fw::TMenuItem* Exit1;
  fw::TMenuItem* Views1;
  fw::TMenuItem* ResourceCategories1;
  fw::TMenuItem* CapturedPhotos1;
  fw::TMenuItem* PhotoAlbum1;
  fw::TMenuItem* InternetLinks1;
  fw::TMenuItem* Help1;
  fw::TMenuItem* UserGuide1;
  fw::TMenuItem* HelpdeskTechnicalSupport1;
  fw::TMenuItem* About1;

  // --- panels and buttons
  fw::TPanel* TopPanel;
  fw::TSpeedButton* Type1But;
  fw::TSpeedButton* Type2But;
  fw::TSpeedButton* Type3But;
  fw::TSpeedButton* Type4But;
  fw::TSpeedButton* ExitBut;
  fw::TPanel* TextPanel;
  fw::TLabel* ActionLabel;
  fw::TPanel* ButtonPanel;
  fw::TButton* NewBut;
  fw::TButton* EditBut;
  fw::TButton* DeleteBut;
  fw::TButton* ReportsBut;
  fw::TButton* GraphsBut;
  fw::TButton* zapbut;
  fw::TBitBtn* BitBtn2;
  fw::TPanel* ResultsPanel;

  // --- introduction panel (front picture)
  fw::TGroupBox* OptionsGB;
  fw::TPanel* FrontPanel;
  fw::TImage* FrontImage;

  // --- notebook
  fw::TTabbedNotebook* FunctionPad;
  // "Category"
  fw::TTabPage* CategoryPage;
  fw::TPanel* CategoryHeader;
  fw::TLabel* CategoryHeaderLabel;
  fw::TCheckBox* CategoryFilterCB;
  fw::TDBGrid* RecipientGrid;
  fw::TScrollBox* RecipientScrollBox;
  fw::TDBEdit* RecipientNameEdit;
  fw::TDBMemo* RecipientDetailsMemo;
  // "Capture"
  fw::TTabPage* CapturePage;
  fw::TPanel* CaptureHeader;
  fw::TLabel* CaptureHeaderLabel;
  fw::TButton* DeleteCaptureBut;
  fw::TDBGrid* RevenueGrid;
  fw::TScrollBox* RevenueScrollBox;
  fw::TDBMemo* RevenueURLMemo;
  fw::TBitBtn* BitBtn1;
  // "Photos"
  fw::TTabPage* PhotosPage;
  fw::TPanel* PhotosHeader;
  fw::TLabel* PhotosHeaderLabel;
  fw::TButton* DeleteAllBut;
  fw::TDBGrid* ExpenseGrid;
  fw::TScrollBox* ExpenseScrollBox;
  fw::TDBEdit* ExpenseNameEdit;
  fw::TDBMemo* ExpenseDetailsMemo;
  fw::TDBEdit* ExpenseDateEdit;
  fw::TPanel* Panel4;
  fw::TBevel* PicBevel;
  fw::TImage* Image1;
  fw::TButton* ReProcessBut;
  // "Internet"
  fw::TTabPage* InternetPage;
  fw::TPanel* InternetHeader;
  fw::TLabel* InternetHeaderLabel;
  fw::TDBGrid* InternetGrid;
  fw::TScrollBox* InternetScrollBox;
  fw::TDBEdit* InternetNameEdit;
  fw::TDBEdit* InternetURLEdit;
  fw::TDBMemo* InternetDetailsMemo;
  fw::TDBComboBox* InternetCategoryCombo;
  fw::TDBImage* pic;

  // --- hidden state
  fw::TLabel* ModeLabel;
  fw::TLabel* NextActionLabel;
  fw::TCheckBox* InitialLoadCB;
  fw::TCheckBox* ShowHintsCB;
  fw::TLabel* DirectoryLabel;
  fw::TMemo* Memo1;

  fw::TNMHTTP* NMHTTP1;

  // --- event handlers (main_form_events.cpp unless noted)
  void FormCreate(fw::TComponent* sender);                               // main_form.cpp
  void FormClose(fw::TComponent* sender, fw::TCloseAction& action);      // main_form.cpp
  void FormActivate(fw::TComponent* sender);
  void Type1ButClick(fw::TComponent* sender);
  void Type2ButClick(fw::TComponent* sender);
  void Type3ButClick(fw::TComponent* sender);
  void Type4ButClick(fw::TComponent* sender);
  void ResourceCategories1Click(fw::TComponent* sender);
  void CapturedPhotos1Click(fw::TComponent* sender);
  void PhotoAlbum1Click(fw::TComponent* sender);
  void InternetLinks1Click(fw::TComponent* sender);
  void FunctionPadClick(fw::TComponent* sender);
  void NewButClick(fw::TComponent* sender);
  void New1Click(fw::TComponent* sender);
  void BitBtn1Click(fw::TComponent* sender);
  void EditButClick(fw::TComponent* sender);
  void Edit1Click(fw::TComponent* sender);
  void GridDblClick(fw::TComponent* sender);
  void DeleteButClick(fw::TComponent* sender);
  void Delete1Click(fw::TComponent* sender);
  void DeleteCaptureButClick(fw::TComponent* sender);
  void DeleteAllButClick(fw::TComponent* sender);
  void ExpenseGridCellClick(fw::TComponent* sender);
  void ExpenseGridKeyUp(fw::TComponent* sender, int& key, unsigned shift);
  void ReProcessButClick(fw::TComponent* sender);
  void CategoryFilterCBClick(fw::TComponent* sender);
  void ReportsButClick(fw::TComponent* sender);
  void GraphsButClick(fw::TComponent* sender);
  void About1Click(fw::TComponent* sender);
  void UserGuide1Click(fw::TComponent* sender);
  void HelpdeskTechnicalSupport1Click(fw::TComponent* sender);
  void BitBtn2Click(fw::TComponent* sender);
  void ExitButClick(fw::TComponent* sender);
  void Exit1Click(fw::TComponent* sender);
  // Handlers that no control invokes.
  void ProgramOptions1Click(fw::TComponent* sender);
  void RebuildDataTables1Click(fw::TComponent* sender);
  void SpeedButton8Click(fw::TComponent* sender);
  void zapbutClick(fw::TComponent* sender);  // main_form_modes.cpp

  // --- procedures
  void SaveData();    // main_form.cpp
  void CancelData();  // main_form.cpp
  void About();
  void ExitSystem();
  void UpdateTitleBar(const std::string& text);
  void EnableButtons(bool enable);
  void EnableNewButton();
  // main_form_modes.cpp
  void ListData();
  void NewData();
  void EditData();
  void DeleteData();
  void EnableWidgets(bool enable);
  int GetNextNum();
  void UpdateCategoryFilter();
  void ReProcess();
  void InitialSetup();
  void CrashRecovery();
  void OpenFiles();
  // main_form_pictures.cpp
  void Updateimage();
  // Starts fetching the front picture and returns; the picture is placed
  // when it arrives (PlaceFrontImage's comment has the rules).
  void PlaceFrontImage();
  // Whether a placing of the front picture waits for its fetch.
  bool FrontPicturePending() const { return front_pending_; }

  // The maker's web pages.
  static constexpr const char* kUserGuideURL = "https://www.morvella.example/guide/";
  static constexpr const char* kHelpdeskURL = "https://www.morvella.example/support/";
  static constexpr const char* kUpdatesURL = "https://www.morvella.example/updates/";

 private:
  // The record kind of the mode, 1..4 ("Type1" .. "Type4"); 0 for the
  // other modes.
  int ModeKind() const;
  fw::TDBGrid* KindGrid(int kind) const;
  fw::TScrollBox* KindDetailBox(int kind) const;
  // The editor of kind on the kind's current record, with the window's mode
  // and hint switch, ready to show modally.
  std::unique_ptr<fw::TForm> NewEditor(int kind);
  void ShowFrontPicture(const std::string& file_name);
  // The home picture, or an empty picture when that cannot be shown.
  void ShowHomePicture();
  void FrontPictureArrived(std::exception_ptr error);
  void SizeFrontPanels();
  // Puts the introduction panel in the middle of the results panel.
  void CentreIntroduction();

  void BuildMenus();
  void BuildPanels();
  void BuildNotebook();
  void BuildHiddenState();
  void WireEvents();
  void OpenWebPage(const char* url);

  // Counts the front picture's placings; a fetch that finds the count
  // moved on when it ends was overtaken by a later one (PlaceFrontImage).
  int front_fetch_ = 0;
  bool front_pending_ = false;
};

// The main window (nullptr before it is made and after it is freed).
extern TMainForm* MainForm;

}  // namespace app
