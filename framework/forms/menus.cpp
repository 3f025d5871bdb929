#include "framework/forms/menus.h"

#include <algorithm>

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "framework/forms/application.h"
#include "framework/forms/qt_text.h"

namespace fw {

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner) {}

TMenuItem::~TMenuItem() {
  if (parent_ != nullptr) {
    auto& v = parent_->items_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  for (TMenuItem* i : items_) i->parent_ = nullptr;
  delete menu_.data();
  delete action_.data();
}

void TMenuItem::SetCaption(const std::string& caption) {
  caption_ = caption;
  Apply();
}

void TMenuItem::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Apply();
}

void TMenuItem::SetVisible(bool visible) {
  visible_ = visible;
  Apply();
}

void TMenuItem::Add(TMenuItem* item) {
  item->parent_ = this;
  items_.push_back(item);
}

void TMenuItem::Click() {
  if (OnClick) OnClick(this);
}

void TMenuItem::Apply() {
  if (action_ == nullptr) return;
  action_->setText(QStr(caption_));
  action_->setEnabled(enabled_);
  action_->setVisible(visible_);
}

void TMenuItem::Populate(QWidget* container) {
  auto add_action = [&](QAction* a) { container->addAction(a); };
  if (caption_ == "-") {
    action_ = new QAction(container);
    action_->setSeparator(true);
    add_action(action_);
    return;
  }
  if (!items_.empty()) {
    menu_ = new QMenu(QStr(caption_), container);
    action_ = menu_->menuAction();
    for (TMenuItem* i : items_) i->Populate(menu_);
  } else {
    action_ = new QAction(QStr(caption_), container);
    QObject::connect(action_, &QAction::triggered, [this] { Guarded([&] { Click(); }, this); });
  }
  action_->setObjectName(QString::fromStdString(Name()));
  add_action(action_);
  Apply();
}

void TMainMenu::Populate(QMenuBar* bar) {
  for (TMenuItem* i : items_) i->Populate(bar);
}

void TMainMenu::Notification(TComponent* component, bool inserting) {
  if (!inserting) items_.erase(std::remove(items_.begin(), items_.end(), component), items_.end());
  TComponent::Notification(component, inserting);
}

}  // namespace fw
