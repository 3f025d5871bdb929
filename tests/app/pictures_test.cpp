// Photos on the main window's "Photos" page: the fit into the 147 x 133
// box and the picture's place in its panel, pictures stored without an
// extension, a photo without a file, untrusted picture files; and
// screenshots of each mode with records and pictures
// (<build>/screenshots/app_mode_*.png). The photo editor's picture after a
// load that failed and after the grid re-sorted under the user's click.
#include <QTableView>
#include <QTest>

#include "app/type3_edit_form.h"
#include "tests/app/app_test_support.h"
#include "tests/common/widget_grab.h"

namespace apptest {
namespace {

// A control's place and size.
struct Box {
  int left, top, width, height;
  bool operator==(const Box&) const = default;
};
inline std::ostream& operator<<(std::ostream& o, const Box& b) {
  return o << b.left << "," << b.top << " " << b.width << "x" << b.height;
}
inline Box BoxOf(const fw::TControl& c) { return {c.Left(), c.Top(), c.Width(), c.Height()}; }

class PicturesTest : public StartedCatalogueTest {
 protected:
  // Moves to the photo named name and clicks its grid cell, as Qt does
  // (errors become boxes).
  void ShowPhoto(const std::string& name) {
    Locate(3, "ResourceName", name);
    fw::Guarded([&] { Main().ExpenseGrid->OnCellClick(Main().ExpenseGrid); });
  }
};

std::string Truncated(const std::string& bytes) { return bytes.substr(0, bytes.size() / 2); }

TEST_F(PicturesTest, PhotoFittedIntoItsPanel) {
  app::TMainForm& m = Main();
  const std::string jpeg = JpegBytes(200, 185);
  const std::string gif = GifBytes(294, 145);
  // A 16 x 16 GIF whose one frame claims 65535 x 65535 pixels.
  const std::string huge_gif("GIF89a\x10\x00\x10\x00\x00\x00\x00,\x00\x00\x00\x00\xff\xff\xff\xff\x00\x02\x02\x4c\x01\x00;",
                             29);
  const struct {
    const char* name;
    const char* file;  // under data
    std::string bytes;
    const char* url;
    int w, h;  // 0 x 0: no picture shown
    bool error;
  } cases[] = {
      {"a jpeg", "10.jpg", jpeg, "http://h/10.jpg", 144, 133, false},  // inside the 147 x 133 box
      {"b gif stored bare", "11", gif, "http://h/p.gif?x=1", 147, 72, false},  // 72.5: halves to even
      {"c tall", "12.jpg", JpegBytes(100, 400), "", 33, 133, false},
      {"d no file", "", "", "http://h/d.jpg", 0, 0, false},
      {"e truncated jpeg", "13", Truncated(jpeg), "http://h/e.jpg", 0, 0, true},
      // A GIF cut in its pixel data loads what there is (the codec warns);
      // cut in its colour table it cannot be read.
      {"f truncated gif", "14.gif", Truncated(gif), "", 147, 72, false},
      {"f2 gif cut early", "19", gif.substr(0, 20), "http://h/f.gif", 0, 0, true},
      {"g huge gif", "15", huge_gif, "http://h/g.gif", 0, 0, true},
      {"h not a jpeg", "16.jpg", std::string("\xff\xd8\xff\xe0") + " garbage", "", 0, 0, true},
      {"i missing", "17.jpg", "", "", 0, 0, true},
      {"j unknown kind", "18", jpeg, "http://h/j.tiff", 0, 0, true},
  };
  for (const auto& c : cases) {
    std::string file;
    if (*c.file != '\0') {
      file = std::string("data\\") + c.file;
      if (std::string(c.name) != "i missing") WriteBytes(Data(c.file), c.bytes);
    }
    Put(3, {{"ResourceName", c.name}, {"Filename", file}, {"PhotoURL", c.url}});
  }
  const auto files = DirBytes(Data());
  // The first listing, on a photo whose picture cannot be read: the box,
  // and the page on show all the same.
  const Box panel_at_start = BoxOf(*m.Panel4);
  boxes_.Answer(fw::mrOk);
  fw::Guarded([&] { m.Type3But->Click(); });
  EXPECT_EQ(boxes_.Texts(), Names{"Unknown picture file extension (.tiff)"});
  boxes_.requests.clear();
  EXPECT_TRUE(m.FunctionPad->Visible());
  EXPECT_EQ(m.FunctionPad->ActivePage(), "Photos");
  app::Datamodule1->Type3Table->First();
  m.Type3But->Click();
  Box panel = panel_at_start;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A picture on show first, so that a photo without one must clear it.
    ShowPhoto("a jpeg");
    ASSERT_TRUE(m.Image1->Visible());
    panel = BoxOf(*m.Panel4);
    if (c.error) boxes_.Answer(fw::mrOk);
    ShowPhoto(c.name);
    if (c.error) {
      ASSERT_EQ(boxes_.requests.size(), 1u);
      EXPECT_EQ(boxes_.requests[0].type, fw::TMsgDlgType::mtError);
      boxes_.requests.clear();
    }
    if (c.w == 0) {
      EXPECT_FALSE(m.Image1->Visible());
      EXPECT_EQ(m.Image1->Picture().Graphic(), nullptr);
      if (!c.error) {
        EXPECT_EQ(BoxOf(*m.Panel4), panel);  // a photo without a file keeps the panel
      }
      continue;
    }
    EXPECT_TRUE(m.Image1->Visible());
    EXPECT_TRUE(m.Image1->Stretch());
    EXPECT_EQ(BoxOf(*m.Image1), (Box{9, 9, c.w, c.h}));
    EXPECT_EQ(BoxOf(*m.PicBevel), (Box{4, 4, c.w + 10, c.h + 10}));
    EXPECT_EQ(BoxOf(*m.Panel4), (Box{panel_at_start.left, panel_at_start.top, c.w + 18, c.h + 18}));
  }
  // Nothing was renamed, written or deleted to load a picture.
  EXPECT_EQ(DirBytes(Data()), files);
}

// Each mode with records, as the user sees it.
TEST_F(PicturesTest, ScreenshotsOfEachMode) {
  app::TMainForm& m = Main();
  testsupport::GrabToPng(m, "app_mode_introduction");
  for (const char* c : {"Fish Health", "Feeding Habits", "Plant Health"})
    Put(1, {{"JournalName", c}, {"Details", std::string("All about ") + c}, {"Type1Num", "1000"}});
  for (int i = 1; i <= 3; ++i)
    Put(2, {{"ActivityName", "http://pictures.example/aqua0" + std::to_string(i) + ".jpg"}});
  WriteBytes(Data("0"), JpegBytes(320, 240, QColor(30, 120, 90)));
  WriteBytes(Data("1.gif"), GifBytes(120, 200));
  Put(3, {{"ResourceName", "Angel fish"}, {"Filename", "data\\0"}, {"PhotoURL", "http://p.example/angel.jpg"},
          {"Details", "A wide one"}, {"PhotoDate", "03/14/2024"}});
  Put(3, {{"ResourceName", "Betta"}, {"Filename", "data\\1.gif"}, {"PhotoURL", "http://p.example/betta.gif"}});
  Put(4, {{"LinkName", "Aquarium society"}, {"URL", "http://aquaria.example/"}, {"Category", "Research"},
          {"Details", "Meetings every month"}, {"pic", JpegBytes(129, 113, QColor(200, 160, 40))}});
  m.Type1But->Click();
  testsupport::GrabToPng(m, "app_mode_category");
  m.Type2But->Click();
  testsupport::GrabToPng(m, "app_mode_capture");
  app::Datamodule1->Type3Table->First();
  m.Type3But->Click();
  EXPECT_EQ(BoxOf(*m.Image1), (Box{9, 9, 147, 110}));
  testsupport::GrabToPng(m, "app_mode_photos");
  ShowPhoto("Betta");
  EXPECT_EQ(BoxOf(*m.Image1), (Box{9, 9, 80, 133}));
  testsupport::GrabToPng(m, "app_mode_photos_tall");
  m.Type4But->Click();
  EXPECT_EQ(m.pic->Picture().Width(), 129);
  testsupport::GrabToPng(m, "app_mode_internet");
}

// The photo editor's picture panel shrinks to the fitted picture; after a
// picture that cannot be loaded it shows neither the earlier picture nor a
// frame stretched over the whole holder.
TEST_F(PicturesTest, PhotoEditorAfterAFailedLoad) {
  app::TMainForm& m = Main();
  WriteBytes(Data("1.jpg"), JpegBytes(200, 100));
  WriteBytes(Data("2.jpg"), "not a picture");
  Put(3, {{"ResourceName", "b bad"}, {"Filename", "data\\2.jpg"}});
  Put(3, {{"ResourceName", "a good"}, {"Filename", "data\\1.jpg"}});
  m.Type3But->Click();
  Locate(3, "ResourceName", "a good");
  boxes_.Answer(fw::mrOk);
  app_->OnModalShown = [&](fw::TForm& f) {
    auto& e = dynamic_cast<app::TType3EditForm&>(f);
    ASSERT_TRUE(e.Image1->Visible());
    const Box holder = BoxOf(*e.PicHolder);
    EXPECT_EQ(BoxOf(*e.Panel4), (Box{0, 0, BoxOf(*e.Image1).width + 18, BoxOf(*e.Image1).height + 18}));
    testsupport::GrabToPng(e, "app_photo_editor_good");
    Locate(3, "ResourceName", "b bad");
    fw::Guarded([&] { e.ExpenseGrid->OnCellClick(e.ExpenseGrid); });
    EXPECT_FALSE(e.Image1->Visible());
    EXPECT_EQ(e.Image1->Picture().Graphic(), nullptr);
    EXPECT_FALSE(e.Panel4->Visible() && BoxOf(*e.Panel4) == (Box{0, 0, holder.width, holder.height}));
    testsupport::GrabToPng(e, "app_photo_editor_bad");
    // The next picture that loads shows framed again.
    Locate(3, "ResourceName", "a good");
    e.ExpenseGrid->OnCellClick(e.ExpenseGrid);
    EXPECT_TRUE(e.Panel4->Visible() && e.Image1->Visible());
    EXPECT_EQ(BoxOf(*e.Panel4), (Box{0, 0, BoxOf(*e.Image1).width + 18, BoxOf(*e.Image1).height + 18}));
    e.CancelBut->Click();
  };
  m.EditBut->Click();
  app_->OnModalShown = nullptr;
  ASSERT_EQ(boxes_.requests.size(), 1u);
  EXPECT_EQ(boxes_.requests[0].type, fw::TMsgDlgType::mtError);
}

// In the photo editor the user renames the top photo, then clicks
// another row (a plain click, or a drag to it): the move posts the new
// name and the rows re-sort under the mouse. The picture on show is that
// of the photo the fields show, not the renamed one's.
TEST_F(PicturesTest, PhotoEditorPictureAfterTheGridResorts) {
  app::TMainForm& m = Main();
  const struct {
    const char* name;
    const char* file;
    int w, h;
  } photos[] = {{"a", "1.jpg", 200, 100}, {"b", "2.jpg", 100, 200}, {"c", "3.jpg", 150, 150}, {"d", "4.jpg", 90, 60}};
  std::map<std::string, std::pair<int, int>> sizes;
  for (const auto& p : photos) {
    WriteBytes(Data(p.file), JpegBytes(p.w, p.h));
    const std::string file = std::string("data\\") + p.file;
    Put(3, {{"ResourceName", p.name}, {"Filename", file}});
    sizes[file] = {p.w, p.h};
  }
  m.Type3But->Click();
  // After a rename that re-sorts the rows, a click and a drag to another
  // row; then, without a rename, a press on another row released outside
  // the grid.
  for (const char* way : {"click", "drag", "outside"}) {
    SCOPED_TRACE(way);
    const bool drag = std::string(way) == "drag", outside = std::string(way) == "outside";
    app::Datamodule1->Type3Table->First();
    app_->OnModalShown = [&](fw::TForm& f) {
      auto& e = dynamic_cast<app::TType3EditForm&>(f);
      ASSERT_EQ(sizes.at(e.FileEdit->Text()), std::make_pair(e.Image1->Picture().Width(), e.Image1->Picture().Height()));
      if (!outside) e.AffNameTE->SetText("z " + e.AffNameTE->Text());
      QWidget* cells = e.ExpenseGrid->View()->viewport();
      auto at = [&](int row) { return e.ExpenseGrid->View()->visualRect(e.ExpenseGrid->Model().index(row, 0)).center(); };
      if (drag || outside) {
        const QPoint end = drag ? at(2) : QPoint(-20, -20);
        QTest::mousePress(cells, Qt::LeftButton, {}, at(drag ? 0 : 1));
        QMouseEvent move(QEvent::MouseMove, end, cells->mapToGlobal(end), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(cells, &move);
        QTest::mouseRelease(cells, Qt::LeftButton, {}, end);
      } else {
        QTest::mouseClick(cells, Qt::LeftButton, {}, at(1));
      }
      EXPECT_EQ(app::Datamodule1->Type3Table->State(), fw::TDataSetState::dsBrowse);  // the rename was posted
      const std::string shown = e.FileEdit->Text();
      EXPECT_EQ(shown, app::Datamodule1->Type3Table->FieldByName("Filename")->AsString());
      EXPECT_NE(shown.substr(0, 1), "z");
      EXPECT_TRUE(e.Image1->Visible());
      EXPECT_EQ(std::make_pair(e.Image1->Picture().Width(), e.Image1->Picture().Height()), sizes.at(shown)) << shown;
      testsupport::GrabToPng(e, std::string("app_photo_editor_after_resort_") + way);
      e.CancelBut->Click();
    };
    m.EditBut->Click();
  }
  app_->OnModalShown = nullptr;
  EXPECT_EQ(Column(3, "ResourceName"), (Names{"c", "d", "z a", "z b"}));
  EXPECT_TRUE(boxes_.requests.empty());
}

}  // namespace
}  // namespace apptest
