#include "framework/forms/notebook.h"

#include <algorithm>

#include <QTabBar>
#include <QTabWidget>

#include "framework/exceptions.h"
#include "framework/forms/application.h"
#include "framework/forms/qt_text.h"

namespace fw {

TTabPage::TTabPage(TComponent* owner) : TWinControl(owner, new QWidget) {}

void TTabPage::SetCaption(const std::string& caption) {
  TControl::SetCaption(caption);
  auto* book = dynamic_cast<TTabbedNotebook*>(Parent());
  if (book == nullptr) return;
  const int i = book->Tabs()->indexOf(Widget());
  if (i >= 0) book->Tabs()->setTabText(i, QStr(caption));
}

TTabbedNotebook::TTabbedNotebook(TComponent* owner) : TWinControl(owner, new QTabWidget) {
  QObject::connect(Tabs()->tabBar(), &QTabBar::tabBarClicked, Tabs(), [this](int index) {
    if (index < 0) return;
    Guarded([&] {
      SetPageIndex(index);
      Click();
    }, this);
  });
}

QTabWidget* TTabbedNotebook::Tabs() const { return static_cast<QTabWidget*>(Widget()); }

TTabPage* TTabbedNotebook::AddPage(const std::string& caption, const std::string& name) {
  auto* page = new TTabPage(Owner() != nullptr ? Owner() : this);
  if (!name.empty()) page->SetName(name);
  page->TControl::SetCaption(caption);
  page->SetParent(this);
  return page;
}

void TTabbedNotebook::InsertWidget(TControl* child) {
  auto* page = dynamic_cast<TTabPage*>(child);
  if (page == nullptr) {
    TWinControl::InsertWidget(child);
    return;
  }
  pages_.push_back(page);
  Tabs()->addTab(page->Widget(), QStr(page->Caption()));
  FreeNotification(page);
}

void TTabbedNotebook::Notification(TComponent* component, bool inserting) {
  if (!inserting) pages_.erase(std::remove(pages_.begin(), pages_.end(), component), pages_.end());
  TWinControl::Notification(component, inserting);
}

int TTabbedNotebook::PageIndex() const { return Tabs()->currentIndex(); }

void TTabbedNotebook::SetPageIndex(int index) {
  if (index >= 0 && index < PageCount()) Tabs()->setCurrentWidget(pages_[static_cast<std::size_t>(index)]->Widget());
}

std::string TTabbedNotebook::ActivePage() const {
  const int i = PageIndex();
  return i >= 0 && i < PageCount() ? pages_[static_cast<std::size_t>(i)]->Caption() : std::string();
}

void TTabbedNotebook::SetActivePage(const std::string& caption) {
  for (int i = 0; i < PageCount(); ++i)
    if (pages_[static_cast<std::size_t>(i)]->Caption() == caption) {
      SetPageIndex(i);
      return;
    }
  throw EInvalidOperation("Page '" + caption + "' not found");
}

}  // namespace fw
