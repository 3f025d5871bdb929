// The record editors opened from the main window: every control posted by
// OK; category names that fit the Category columns; link texts too long
// for the table and characters beyond code page 1252 refused with a box.
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTest>

#include "app/type1_edit_form.h"
#include "app/type4_edit_form.h"
#include "tests/app/app_test_support.h"

namespace apptest {
namespace {

class EditorsTest : public StartedCatalogueTest {};

// OK posts what every control of the editor holds, also a control that
// never had the focus (text dropped into it); Cancel discards it all.
TEST_F(EditorsTest, OkPostsTheTextOfEveryControl) {
  struct Typed {
    const char* control;
    const char* field;
  };
  struct Case {
    int kind;
    fw::TSpeedButton* mode;
    std::vector<Typed> typed;
  };
  const Case cases[] = {
      {1, Main().Type1But, {{"AffNameTE", "JournalName"}, {"DetailsMemo", "Details"}}},
      {4, Main().Type4But, {{"LinkNameTE", "LinkName"}, {"URLEdit", "URL"}, {"DetailsMemo", "Details"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    c.mode->Click();
    for (const char* button : {"OKBut", "CancelBut"}) {
      const std::string text = std::string("text by ") + button;
      app_->OnModalShown = [&](fw::TForm& form) {
        for (const Typed& t : c.typed) {
          fw::TComponent* control = form.FindComponent(t.control);
          if (auto* edit = dynamic_cast<fw::TDBEdit*>(control))
            edit->SetText(text + " in " + t.field);
          else
            dynamic_cast<fw::TDBMemo&>(*control).SetText(text + " in " + t.field);
        }
        dynamic_cast<fw::TButton&>(*form.FindComponent(button)).Click();
      };
      (std::string(button) == "OKBut" ? Main().NewBut : Main().EditBut)->Click();
      for (const Typed& t : c.typed) EXPECT_EQ(Column(c.kind, t.field), Names{"text by OKBut in " + std::string(t.field)});
    }
  }
  app_->OnModalShown = nullptr;
}

// A category's name takes no more characters than the other kinds' Category
// columns hold, so that what is filed under it is found under it again:
// typing stops there, and the category filter lists the link filed under
// the category.
TEST_F(EditorsTest, CategoryNameFitsTheCategoryColumns) {
  const std::string typed(60, 'c');
  Main().Type1But->Click();
  app_->OnModalShown = [&](fw::TForm& form) {
    auto& e = dynamic_cast<app::TType1EditForm&>(form);
    QTest::keyClicks(e.AffNameTE->Widget(), QString::fromStdString(typed));
    e.OKBut->Click();
  };
  Main().NewBut->Click();
  EXPECT_EQ(Column(1, "JournalName"), Names{typed.substr(0, 40)});
  Main().Type4But->Click();
  app_->OnModalShown = [&](fw::TForm& form) {
    auto& e = dynamic_cast<app::TType4EditForm&>(form);
    e.LinkNameTE->SetText("filed");
    e.CategoryLookup->SelectRow(0);
    e.OKBut->Click();
  };
  Main().NewBut->Click();
  app_->OnModalShown = nullptr;
  Main().Type1But->Click();
  Main().CategoryFilterCB->SetChecked(true);
  EXPECT_EQ(Column(4, "LinkName"), Names{"filed"});
}

// A link name or URL longer than the table holds is refused on OK with a
// box, and the editor stays open with the whole text, instead of storing
// it cut short (a cut URL opens another page). One that fits is stored.
TEST_F(EditorsTest, OverLongLinkTextsAreRefused) {
  Main().Type4But->Click();
  const std::string url = "http://links.example/" + std::string(229, 'u');  // 250
  const struct {
    const char* edit;
    std::string text;
    const char* box;  // nullptr: accepted
  } cases[] = {
      {"LinkNameTE", std::string(251, 'n'), "The link name is longer than the 250 characters a link can hold."},
      {"URLEdit", url + "x", "The URL is longer than the 250 characters a link can hold."},
      {"URLEdit", url, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edit);
    boxes_.requests.clear();
    if (c.box != nullptr) boxes_.Answer(fw::mrOk);
    bool stayed = false;
    app_->OnModalShown = [&](fw::TForm& f) {
      auto& e = dynamic_cast<app::TType4EditForm&>(f);
      e.LinkNameTE->SetText("link");
      auto& edit = dynamic_cast<fw::TDBEdit&>(*f.FindComponent(c.edit));
      edit.SetText(c.text);
      e.OKBut->Click();
      stayed = f.ModalResult() == fw::mrNone;
      EXPECT_EQ(edit.Text(), c.text);
      if (stayed) e.CancelBut->Click();
    };
    Main().NewBut->Click();
    app_->OnModalShown = nullptr;
    EXPECT_EQ(stayed, c.box != nullptr);
    EXPECT_EQ(boxes_.Texts(), c.box != nullptr ? Names{c.box} : Names{});
    EXPECT_EQ(Column(4, "URL"), c.box != nullptr ? Names{} : Names{url});
  }
}

// Characters that code page 1252 lacks, typed or pasted into an editor,
// are refused with a box naming them, instead of being stored as "?";
// the rest of the text, "é" included, is kept.
TEST_F(EditorsTest, CharactersBeyondTheCodePageAreRefused) {
  Main().Type1But->Click();
  app_->OnModalShown = [&](fw::TForm& f) {
    auto& e = dynamic_cast<app::TType1EditForm&>(f);
    QTest::keyClicks(e.AffNameTE->Widget(), "Fish ");
    QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("\u9b5a\u306e\u5065\u5eb7"));
    QApplication::sendEvent(e.AffNameTE->Widget(), &typed);
    QTest::keyClicks(e.AffNameTE->Widget(), " Health");
    QApplication::clipboard()->setText(QString::fromUtf8("caf\u00e9 \U0001F41F\u9b5a"));
    static_cast<QPlainTextEdit*>(e.DetailsMemo->Widget())->paste();
    e.OKBut->Click();
  };
  boxes_.Answer(fw::mrOk).Answer(fw::mrOk);
  Main().NewBut->Click();
  app_->OnModalShown = nullptr;
  EXPECT_EQ(boxes_.Texts(),
            (Names{"These characters cannot be stored and were left out: U+9B5A, U+306E, U+5065, U+5EB7.",
                   "These characters cannot be stored and were left out: U+1F41F, U+9B5A."}));
  EXPECT_EQ(Column(1, "JournalName"), Names{"Fish  Health"});
  EXPECT_EQ(Column(1, "Details"), Names{"caf\xe9 "});
}

}  // namespace
}  // namespace apptest
