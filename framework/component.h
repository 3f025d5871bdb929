// TComponent: the framework's owned-object model. A component is owned by
// its owner, which frees it when the owner is destroyed; a component being
// destroyed removes itself from its owner first.
#pragma once

#include <string>
#include <vector>

namespace fw {

class TComponent {
 public:
  explicit TComponent(TComponent* owner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  virtual void SetName(const std::string& name);
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(index); }
  TComponent* FindComponent(const std::string& name) const;  // case-insensitive

  // Component state flags as the framework keeps them.
  bool Designing() const { return designing_; }
  bool Loading() const { return loading_; }
  bool Destroying() const { return destroying_; }
  void SetDesigning(bool v) { designing_ = v; }
  void SetLoading(bool v) { loading_ = v; }
  // Called after all properties of a streamed component are set.
  virtual void Loaded() { loading_ = false; }

  // Asks to be told (Notification with inserting false) when component is
  // destroyed; the request is mutual, so either side going away ends it.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);
  // Destroys the owned components, the last first. The destructor does
  // this too; a derived class whose components refer to its own members
  // calls it first thing in its destructor.
  void DestroyComponents();
  // Marks this component and everything it owns as being destroyed.
  void MarkDestroying();

 protected:
  // Told when a component is inserted into or removed from this owner,
  // and when a component that this one refers to is going away.
  virtual void Notification(TComponent* component, bool inserting);

 private:
  void InsertComponent(TComponent* c);
  void RemoveComponent(TComponent* c);
  TComponent* owner_ = nullptr;
  std::string name_;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> free_notifies_;
  bool designing_ = false;
  bool loading_ = false;
  bool destroying_ = false;
};

}  // namespace fw
