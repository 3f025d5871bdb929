// TComponent.
//
// Invariants:
// (1) c is in owner->components_ exactly when c->owner_ == owner.
// (2) a is in b->free_notifies_ exactly when b is in a->free_notifies_.
// Destruction keeps both: owned components are detached and destroyed last
// first, then the component leaves its owner, whose Notification is told.
#include "framework/component.h"

#include <algorithm>

#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace fw {

namespace {

bool IsValidIdent(const std::string& s) {
  if (s.empty()) return false;
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!alpha(s[0])) return false;
  return std::all_of(s.begin() + 1, s.end(), [&](char c) { return alpha(c) || (c >= '0' && c <= '9'); });
}

void EraseOne(std::vector<TComponent*>& v, TComponent* c) {
  auto it = std::find(v.begin(), v.end(), c);
  if (it != v.end()) v.erase(it);
}

}  // namespace

TComponent::TComponent(TComponent* owner) {
  if (owner != nullptr) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  MarkDestroying();
  // Tell everyone who asked; each removes its link back through
  // RemoveFreeNotification or we drop it here.
  while (!free_notifies_.empty()) {
    TComponent* other = free_notifies_.back();
    free_notifies_.pop_back();
    EraseOne(other->free_notifies_, this);
    other->Notification(this, false);
  }
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

void TComponent::MarkDestroying() {
  if (destroying_) return;
  destroying_ = true;
  for (TComponent* c : components_) c->MarkDestroying();
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* c = components_.back();
    components_.pop_back();
    c->owner_ = nullptr;
    delete c;
  }
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (!name.empty() && !IsValidIdent(name))
    throw EComponentError("'" + name + "' is not a valid component name");
  if (owner_ != nullptr && !name.empty()) {
    TComponent* other = owner_->FindComponent(name);
    if (other != nullptr && other != this)
      throw EComponentError("A component named " + name + " already exists");
  }
  name_ = name;
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

void TComponent::FreeNotification(TComponent* component) {
  if (component == nullptr || component == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), component) == free_notifies_.end()) {
    free_notifies_.push_back(component);
    component->free_notifies_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (component == nullptr) return;
  EraseOne(free_notifies_, component);
  EraseOne(component->free_notifies_, this);
}

void TComponent::Notification(TComponent* component, bool inserting) {
  if (!inserting && component != nullptr) RemoveFreeNotification(component);
  // Pass on to the owned components, from the last; an owned component
  // may go away in its handler, so re-check the bound each time.
  for (std::size_t i = components_.size(); i > 0; --i) {
    if (i > components_.size()) continue;
    TComponent* c = components_[i - 1];
    if (c != component) c->Notification(component, inserting);
  }
}

void TComponent::InsertComponent(TComponent* c) {
  if (!c->name_.empty() && FindComponent(c->name_) != nullptr)
    throw EComponentError("A component named " + c->name_ + " already exists");
  components_.push_back(c);
  c->owner_ = this;
  if (designing_) c->designing_ = true;
  Notification(c, true);
}

void TComponent::RemoveComponent(TComponent* c) {
  Notification(c, false);
  EraseOne(components_, c);
  c->owner_ = nullptr;
}

}  // namespace fw
