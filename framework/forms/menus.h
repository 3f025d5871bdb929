// TMainMenu and TMenuItem: a form's menu bar. Items are components owned
// by the form; an item with sub-items is a menu, one without a command.
// Click() runs OnClick (enabled or not), as a user's choice of an enabled
// item does.
#pragma once

#include <string>
#include <vector>

#include <QPointer>

#include "framework/component.h"
#include "framework/forms/control.h"

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace fw {

class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* owner);
  ~TMenuItem() override;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);  // "&File"; "-" is a separator
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  void Add(TMenuItem* item);
  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int index) const { return items_.at(static_cast<std::size_t>(index)); }
  TMenuItem* Parent() const { return parent_; }
  void Click();

  TNotifyEvent OnClick;

 private:
  friend class TMainMenu;
  // Puts this item (and its sub-items) into a menu bar or a menu.
  void Populate(QWidget* container);
  void Apply();
  std::string caption_;
  bool enabled_ = true;
  bool visible_ = true;
  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
  QPointer<QAction> action_;
  QPointer<QMenu> menu_;
};

class TMainMenu : public TComponent {
 public:
  explicit TMainMenu(TComponent* owner) : TComponent(owner) {}
  void Add(TMenuItem* item) { items_.push_back(item); }
  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int index) const { return items_.at(static_cast<std::size_t>(index)); }
  // Fills bar with the items (TForm::SetMenu calls it).
  void Populate(QMenuBar* bar);

 protected:
  void Notification(TComponent* component, bool inserting) override;

 private:
  std::vector<TMenuItem*> items_;
};

}  // namespace fw
