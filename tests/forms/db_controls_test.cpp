// Field-bound controls on the in-memory dataset: typing puts the dataset
// into edit state and the post stores what was typed; Cancel and read-only
// datasets bring the field's value back; memo, date, lookup, combo and
// picture fields round trip; a bad picture in a field is an error box, not
// a crash.
#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "framework/dbctrls/db_combo_box.h"
#include "framework/dbctrls/db_date_edit.h"
#include "framework/dbctrls/db_edit.h"
#include "framework/dbctrls/db_field_control.h"
#include "framework/dbctrls/db_image.h"
#include "framework/forms/clipboard.h"
#include "framework/gui/jpeg_image.h"
#include "tests/forms/db_test_support.h"
#include "tests/forms/forms_test_support.h"

namespace {

using formstest::AppTest;
using formstest::CountingDataSet;
using formstest::TestForm;

class DBControlsTest : public AppTest {
 protected:
  DBControlsTest() {
    form = fw::NewForm<TestForm>(&App());
    ds = new CountingDataSet(form, {{"Num", fw::TFieldType::ftInteger},
                                    {"Name", fw::TFieldType::ftString, 20}, {"Details", fw::TFieldType::ftMemo},
                                    {"PhotoDate", fw::TFieldType::ftDate}, {"Category", fw::TFieldType::ftString, 40},
                                    {"pic", fw::TFieldType::ftGraphic}});
    formstest::FillNumbered(*ds, 3);
    source = new fw::TDataSource(form);
    source->SetDataSet(ds);
  }
  ~DBControlsTest() override { delete form; }
  std::string Stored(std::size_t row, int field) {
    return ds->StoredNull(row, field) ? "<null>" : ds->StoredValue(row, field);
  }

  TestForm* form;
  CountingDataSet* ds;
  fw::TDataSource* source;
};

TEST_F(DBControlsTest, EditTypingPostCancelAndReadOnly) {
  auto* edit = form->Make<fw::TDBEdit>("AffNameTE", form);
  edit->SetDataSource(source);
  edit->SetDataField("Name");
  ds->Open();
  form->Show();
  auto* line = static_cast<QLineEdit*>(edit->Widget());
  EXPECT_EQ(line->text(), "name1");
  EXPECT_EQ(line->maxLength(), 20);
  line->end(false);
  QTest::keyClicks(line, "X");
  EXPECT_EQ(ds->State(), fw::TDataSetState::dsEdit);
  EXPECT_EQ(line->text(), "name1X");
  ds->Post();
  EXPECT_EQ(Stored(0, 1), "name1X");

  QTest::keyClicks(line, "Y");
  ds->Cancel();
  EXPECT_EQ(line->text(), "name1X");

  // Leaving the control stores the value in the record (not yet posted).
  QTest::keyClicks(line, "Z");
  QFocusEvent out(QEvent::FocusOut);
  QApplication::sendEvent(line, &out);
  EXPECT_EQ(ds->FieldByName("Name")->AsString(), "name1XZ");
  ds->Cancel();

  ds->read_only = true;
  QTest::keyClicks(line, "Q");
  EXPECT_EQ(ds->State(), fw::TDataSetState::dsBrowse);
  EXPECT_EQ(line->text(), "name1X");
  ds->read_only = false;

  ds->Next();
  EXPECT_EQ(line->text(), "name2");
}

TEST_F(DBControlsTest, MemoTextAndDateFieldsRoundTrip) {
  auto* memo = form->Make<fw::TDBMemo>("DetailsMemo", form);
  memo->SetDataSource(source);
  memo->SetDataField("Details");
  auto* date = form->Make<fw::TDBDateEdit>("PhotoDate", form);
  date->SetDataSource(source);
  date->SetDataField("PhotoDate");
  auto* text = form->Make<fw::TDBText>("NameText", form);
  text->SetDataSource(source);
  text->SetDataField("Name");
  ds->Open();
  fw::TDateTime d;
  EXPECT_FALSE(date->Date(d));  // null shows blank
  memo->SetText("first line\r\nsecond line");
  date->SetDate(fw::EncodeDate(2024, 2, 29));
  EXPECT_EQ(ds->State(), fw::TDataSetState::dsEdit);
  ds->Post();
  EXPECT_EQ(ds->FieldByName("Details")->AsString(), "first line\r\nsecond line");
  EXPECT_EQ(ds->FieldByName("PhotoDate")->AsDateTime(), fw::EncodeDate(2024, 2, 29));
  ds->Next();
  EXPECT_EQ(memo->Text(), "");
  EXPECT_EQ(static_cast<QLabel*>(text->Widget())->text(), "name2");
  ds->Prior();
  EXPECT_EQ(memo->Text(), "first line\r\nsecond line");
  ASSERT_TRUE(date->Date(d));
  EXPECT_EQ(d, fw::EncodeDate(2024, 2, 29));
  QTest::keyClick(date->Widget(), Qt::Key_Delete);
  ds->Post();
  EXPECT_TRUE(ds->FieldByName("PhotoDate")->IsNull());
}

// A blank date's calendar opens at the current month (not at the year 100
// that stands for blank), so that a date can be picked for it; opening it
// changes nothing.
TEST_F(DBControlsTest, BlankDateCalendarOpensAtToday) {
  auto* date = form->Make<fw::TDBDateEdit>("PhotoDate", form);
  date->SetDataSource(source);
  date->SetDataField("PhotoDate");
  ds->Open();
  form->Show();
  auto* edit = static_cast<QDateEdit*>(date->Widget());
  date->SetBounds(0, 0, 120, 21);
  // A press on the arrow at the right opens the calendar.
  QTest::mousePress(edit, Qt::LeftButton, {}, QPoint(edit->width() - 4, edit->height() / 2));
  QCalendarWidget* calendar = edit->calendarWidget();
  ASSERT_TRUE(calendar->isVisible());
  const QDate today = QDate::currentDate();
  EXPECT_EQ(std::make_pair(calendar->yearShown(), calendar->monthShown()), std::make_pair(today.year(), today.month()));
  EXPECT_EQ(ds->State(), fw::TDataSetState::dsBrowse);
  calendar->window()->hide();
}

TEST_F(DBControlsTest, LookupStoresTheChosenKey) {
  auto* categories = new CountingDataSet(form, {{"Type1Num", fw::TFieldType::ftInteger},
                                                {"JournalName", fw::TFieldType::ftString, 250}});
  int num = 1000;
  for (const char* name : {"Fish Health", "Feeding Habits", "Research"})
    categories->AddRaw({{0, formstest::IntBytes(num++)}, {1, formstest::StrBytes(name)}});
  auto* list_source = new fw::TDataSource(form);
  list_source->SetDataSet(categories);
  categories->Open();
  auto* lookup = form->Make<fw::TDBLookupComboBox>("CategoryLookup", form);
  lookup->SetDataSource(source);
  lookup->SetDataField("Category");
  lookup->SetListSource(list_source);
  lookup->SetKeyField("JournalName");
  lookup->SetListField("JournalName");
  ds->Open();
  QApplication::processEvents();
  EXPECT_EQ(lookup->ListModel().rowCount(), 3);
  lookup->SelectRow(1);
  EXPECT_EQ(ds->State(), fw::TDataSetState::dsEdit);
  ds->Post();
  EXPECT_EQ(Stored(0, 4), "Feeding Habits");
  EXPECT_EQ(lookup->Text(), "Feeding Habits");
  EXPECT_EQ(categories->RecNo(), 1);  // the list dataset was only looked at

  // A stored value that no list record has still shows.
  ds->Edit();
  ds->FieldByName("Category")->SetAsString("Gone Category");
  EXPECT_EQ(lookup->Text(), "Gone Category");
  ds->Cancel();

  // Key and list fields differ: the number is stored, the name shown.
  auto* by_number = form->Make<fw::TDBLookupComboBox>("NumberLookup", form);
  by_number->SetDataSource(source);
  by_number->SetDataField("Num");
  by_number->SetListSource(list_source);
  by_number->SetKeyField("Type1Num");
  by_number->SetListField("JournalName");
  QApplication::processEvents();
  by_number->SelectRow(2);
  ds->Post();
  EXPECT_EQ(ds->FieldByName("Num")->AsInteger(), 1002);
  EXPECT_EQ(by_number->Text(), "Research");
}

TEST_F(DBControlsTest, PictureFieldShowsPastesCutsAndSurvivesBadBytes) {
  testsupport::ScriptedMessages boxes;
  auto* image = form->Make<fw::TDBImage>("DBPic", form);
  image->SetBounds(0, 0, 129, 113);
  image->SetStretch(true);
  image->SetDataSource(source);
  image->SetDataField("pic");
  ds->Open();
  EXPECT_EQ(image->Picture().Graphic(), nullptr);

  // A JPEG stored in the field shows as a JPEG picture.
  fw::TBitmap b;
  b.SetPixelFormat(fw::TPixelFormat::pf32bit);
  b.SetSize(40, 30);
  fw::TJPEGImage jpeg;
  jpeg.Assign(b);
  const std::vector<std::uint8_t> jpeg_bytes = jpeg.Data();
  ds->Edit();
  {
    fw::TMemoryStream s;
    s.WriteBuffer(jpeg_bytes.data(), static_cast<std::int64_t>(jpeg_bytes.size()));
    s.SetPosition(0);
    static_cast<fw::TBlobField*>(ds->FieldByName("pic"))->LoadFromStream(s);
  }
  ds->Post();
  ASSERT_NE(image->Picture().Graphic(), nullptr);
  EXPECT_STREQ(image->Picture().Graphic()->ClassName(), "TJPEGImage");
  EXPECT_EQ(image->Picture().Width(), 40);
  EXPECT_EQ(image->Snapshot().size(), QSize(129, 113));

  // Paste a plain image: stored as BMP bytes.
  fw::TBitmap red;
  red.SetPixelFormat(fw::TPixelFormat::pf32bit);
  red.SetSize(9, 7);
  fw::Clipboard().Assign(red);
  image->PasteFromClipboard();
  ds->Post();
  EXPECT_EQ(ds->FieldByName("pic")->AsString().substr(0, 2), "BM");
  EXPECT_EQ(image->Picture().Width(), 9);
  image->CutToClipboard();
  ds->Post();
  EXPECT_TRUE(ds->FieldByName("pic")->IsNull());
  EXPECT_EQ(fw::Clipboard().GetGraphic()->Width(), 9);

  // A cut-off JPEG from the network: no picture, one error box.
  boxes.Answer(fw::mrOk);
  ds->Edit();
  ds->FieldByName("pic")->SetAsString(std::string(jpeg_bytes.begin(), jpeg_bytes.begin() + 100));
  ds->Post();
  EXPECT_EQ(image->Picture().Graphic(), nullptr);
  QApplication::processEvents();
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].text.rfind("JPEG error #", 0), 0u);
}

}  // namespace
