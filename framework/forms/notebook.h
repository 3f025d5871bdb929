// TTabbedNotebook: pages behind tabs. Each page (TTabPage) is a container
// for controls; the tab shows the page's caption. A user's click on a tab
// shows that page and then runs OnClick; choosing the page in code
// (PageIndex, ActivePage) runs no handler.
#pragma once

#include <string>
#include <vector>

#include "framework/forms/control.h"

class QTabWidget;

namespace fw {

class TTabPage : public TWinControl {
 public:
  explicit TTabPage(TComponent* owner);
  void SetCaption(const std::string& caption) override;

 protected:
  void ApplyVisibility() override {}
};

class TTabbedNotebook : public TWinControl {
 public:
  explicit TTabbedNotebook(TComponent* owner);
  // A new page at the end, owned by the notebook's owner.
  TTabPage* AddPage(const std::string& caption, const std::string& name = "");
  int PageCount() const { return static_cast<int>(pages_.size()); }
  TTabPage* Pages(int index) const { return pages_.at(static_cast<std::size_t>(index)); }
  int PageIndex() const;
  void SetPageIndex(int index);
  // The caption of the page shown; setting picks the page by caption
  // (EInvalidOperation "Page '<caption>' not found" when none has it).
  std::string ActivePage() const;
  void SetActivePage(const std::string& caption);

 protected:
  void InsertWidget(TControl* child) override;
  void Notification(TComponent* component, bool inserting) override;

 private:
  friend class TTabPage;
  QTabWidget* Tabs() const;
  std::vector<TTabPage*> pages_;
};

}  // namespace fw
