#include "storage/filter_registry.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace storage {

std::int32_t FilterRegistry::NextId() {
  // Fewer filters than ids can exist at once, so the walk ends.
  do {
    last_id_ = last_id_ == std::numeric_limits<std::int32_t>::max() ? 1 : last_id_ + 1;
  } while (IdInUse(last_id_));
  return last_id_;
}

bool FilterRegistry::IdInUse(std::int32_t id) const {
  return std::any_of(filters_.begin(), filters_.end(), [&](const auto& e) { return e.id == id; }) ||
         std::any_of(callbacks_.begin(), callbacks_.end(),
                     [&](const auto& e) { return e.id == id; });
}

ErrorCode FilterRegistry::Add(std::unique_ptr<TFilter> filter, std::int32_t& handle) {
  const std::int32_t id = NextId();
  filters_.push_back({id, std::move(filter)});
  handle = id;
  return ErrorCode::kNone;
}

ErrorCode FilterRegistry::AddFilter(bool option, std::span<const std::byte> buffer,
                                    std::int32_t& handle) {
  if (buffer.empty()) return ErrorCode::kInvalidFilterExpression;
  return Add(std::make_unique<TFilter>(owner_, option, buffer), handle);
}

ErrorCode FilterRegistry::AddFilter(bool option, ExpressionPtr tree, std::int32_t& handle) {
  if (!tree) return ErrorCode::kInvalidFilterExpression;
  return Add(std::make_unique<TFilter>(owner_, option, std::move(tree)), handle);
}

ErrorCode FilterRegistry::AddFilter(bool option, TExpressionNode* lent_tree, std::int32_t& handle) {
  if (lent_tree == nullptr) return ErrorCode::kInvalidFilterExpression;
  return Add(std::make_unique<TFilter>(owner_, option, lent_tree), handle);
}

ErrorCode FilterRegistry::AddCallbackFilter(FilterRoutine routine, void* client_data,
                                            std::int32_t& handle) {
  if (routine == nullptr) return ErrorCode::kInvalidFilterExpression;
  const std::int32_t id = NextId();
  callbacks_.push_back({id, std::make_unique<TCallbackFilter>(owner_, routine, client_data)});
  handle = -id;
  return ErrorCode::kNone;
}

TFilter* FilterRegistry::FindFilter(std::int32_t handle) const {
  if (handle <= 0) return nullptr;
  for (const auto& e : filters_) {
    if (e.id == handle) return e.filter.get();
  }
  return nullptr;
}

TCallbackFilter* FilterRegistry::FindCallbackFilter(std::int32_t handle) const {
  // -INT32_MIN has no id; ids are positive 32-bit numbers.
  if (handle >= 0 || handle == std::numeric_limits<std::int32_t>::min()) return nullptr;
  for (const auto& e : callbacks_) {
    if (e.id == -handle) return e.filter.get();
  }
  return nullptr;
}

TFilter* FilterRegistry::FindActiveFilter(std::int32_t handle) const {
  TFilter* f = FindFilter(handle);
  return f != nullptr && f->Active() ? f : nullptr;
}

ErrorCode FilterRegistry::UpdateFilter(std::span<const std::byte> buffer, std::int32_t handle) {
  if (buffer.empty()) return ErrorCode::kInvalidFilterExpression;
  TFilter* f = FindActiveFilter(handle);
  if (f == nullptr) return ErrorCode::kInvalidFilterHandle;
  f->ReplaceExpression(buffer);
  return ErrorCode::kNone;
}

ErrorCode FilterRegistry::UpdateFilter(ExpressionPtr tree, std::int32_t handle) {
  if (!tree) return ErrorCode::kInvalidFilterExpression;
  TFilter* f = FindActiveFilter(handle);
  if (f == nullptr) return ErrorCode::kInvalidFilterHandle;
  f->ReplaceExpression(std::move(tree));
  return ErrorCode::kNone;
}

ErrorCode FilterRegistry::UpdateFilter(TExpressionNode* lent_tree, std::int32_t handle) {
  if (lent_tree == nullptr) return ErrorCode::kInvalidFilterExpression;
  TFilter* f = FindActiveFilter(handle);
  if (f == nullptr) return ErrorCode::kInvalidFilterHandle;
  f->ReplaceExpression(lent_tree);
  return ErrorCode::kNone;
}

ErrorCode FilterRegistry::DropFilter(std::int32_t handle) {
  if (handle == 0) {
    filters_.clear();
    callbacks_.clear();
    return ErrorCode::kNone;
  }
  if (handle > 0) {
    auto it = std::find_if(filters_.begin(), filters_.end(),
                           [&](const auto& e) { return e.id == handle; });
    if (it == filters_.end()) return ErrorCode::kInvalidFilterHandle;
    filters_.erase(it);
    return ErrorCode::kNone;
  }
  if (FindCallbackFilter(handle) == nullptr) return ErrorCode::kInvalidFilterHandle;
  callbacks_.erase(std::find_if(callbacks_.begin(), callbacks_.end(),
                                [&](const auto& e) { return e.id == -handle; }));
  return ErrorCode::kNone;
}

ErrorCode FilterRegistry::SetActive(std::int32_t handle, bool active) {
  if (handle == 0) {
    for (auto& e : filters_) active ? e.filter->Activate() : e.filter->Deactivate();
    for (auto& e : callbacks_) active ? e.filter->Activate() : e.filter->Deactivate();
    return ErrorCode::kNone;
  }
  if (TFilter* f = FindFilter(handle)) {
    active ? f->Activate() : f->Deactivate();
    return ErrorCode::kNone;
  }
  if (TCallbackFilter* c = FindCallbackFilter(handle)) {
    active ? c->Activate() : c->Deactivate();
    return ErrorCode::kNone;
  }
  return ErrorCode::kInvalidFilterHandle;
}

ErrorCode FilterRegistry::ActivateFilter(std::int32_t handle) { return SetActive(handle, true); }
ErrorCode FilterRegistry::DeactivateFilter(std::int32_t handle) { return SetActive(handle, false); }

bool FilterRegistry::AnyFilterActive() const {
  return std::any_of(filters_.begin(), filters_.end(),
                     [](const auto& e) { return e.filter->Active(); });
}

bool FilterRegistry::AnyCallbackFilterActive() const {
  return std::any_of(callbacks_.begin(), callbacks_.end(),
                     [](const auto& e) { return e.filter->Active(); });
}

bool FilterRegistry::PassesCallbackFilters(std::span<const std::byte> record,
                                           std::uint32_t record_number) const {
  for (const auto& e : callbacks_) {
    if (e.filter->Active() && !e.filter->Check(record, record_number)) return false;
  }
  return true;
}

}  // namespace storage
