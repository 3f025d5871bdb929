// The filters of one table and their handles.
//
// A handle is a small number, never an address: an expression filter's
// handle is its id, a callback filter's handle the negated id, and 0 means
// all filters. Ids are given out in rising order from 1 and are not reused
// while the registry lives (after 2^31 - 1 ids the count starts again at 1,
// skipping ids in use), so a stale handle of a dropped filter names no
// filter and gets 10050 rather than someone else's filter.
//
// Both lists keep the order of addition, which is the order in which
// bitmaps are combined and callback filters asked. New filters are
// inactive. Operations that the table's callers may get wrong return
// 10050 (unknown handle) or 10051 (no expression or routine) instead of
// raising; reading a buffer raises its own errors (filter_reader.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "storage/engine_error.h"
#include "storage/filter_object.h"

namespace storage {

class FilterRegistry {
 public:
  explicit FilterRegistry(FilterTable& owner) : owner_(owner) {}
  FilterRegistry(const FilterRegistry&) = delete;
  FilterRegistry& operator=(const FilterRegistry&) = delete;

  // An expression filter from a buffer (empty: 10051), a tree it takes
  // over (nullptr: 10051) or a lent tree (nullptr: 10051); handle > 0.
  [[nodiscard]] ErrorCode AddFilter(bool option, std::span<const std::byte> buffer,
                                    std::int32_t& handle);
  [[nodiscard]] ErrorCode AddFilter(bool option, ExpressionPtr tree, std::int32_t& handle);
  [[nodiscard]] ErrorCode AddFilter(bool option, TExpressionNode* lent_tree, std::int32_t& handle);
  // A callback filter (routine nullptr: 10051); handle < 0.
  [[nodiscard]] ErrorCode AddCallbackFilter(FilterRoutine routine, void* client_data,
                                            std::int32_t& handle);

  // Replaces the expression of the active expression filter handle: no
  // expression 10051, anything but an active expression filter 10050.
  [[nodiscard]] ErrorCode UpdateFilter(std::span<const std::byte> buffer, std::int32_t handle);
  [[nodiscard]] ErrorCode UpdateFilter(ExpressionPtr tree, std::int32_t handle);
  [[nodiscard]] ErrorCode UpdateFilter(TExpressionNode* lent_tree, std::int32_t handle);

  // 0: every filter of both lists; < 0: a callback filter; > 0: an
  // expression filter; unknown: 10050 and nothing changes.
  [[nodiscard]] ErrorCode DropFilter(std::int32_t handle);
  [[nodiscard]] ErrorCode ActivateFilter(std::int32_t handle);
  [[nodiscard]] ErrorCode DeactivateFilter(std::int32_t handle);

  // The filter a handle names; nullptr when none.
  [[nodiscard]] TFilter* FindFilter(std::int32_t handle) const;
  [[nodiscard]] TCallbackFilter* FindCallbackFilter(std::int32_t handle) const;

  [[nodiscard]] std::size_t FilterCount() const { return filters_.size(); }
  [[nodiscard]] std::size_t CallbackFilterCount() const { return callbacks_.size(); }
  // In order of addition. REQUIRES: i < the count.
  [[nodiscard]] TFilter& FilterAt(std::size_t i) const { return *filters_[i].filter; }
  [[nodiscard]] std::int32_t FilterHandleAt(std::size_t i) const { return filters_[i].id; }
  [[nodiscard]] TCallbackFilter& CallbackFilterAt(std::size_t i) const {
    return *callbacks_[i].filter;
  }
  [[nodiscard]] std::int32_t CallbackFilterHandleAt(std::size_t i) const {
    return -callbacks_[i].id;
  }

  // Bitmap mode: some expression filter is active.
  [[nodiscard]] bool AnyFilterActive() const;
  [[nodiscard]] bool AnyCallbackFilterActive() const;

  // True without active callback filters; else each active callback filter
  // in order is asked about the record, and the first false ends with
  // false.
  [[nodiscard]] bool PassesCallbackFilters(std::span<const std::byte> record,
                                           std::uint32_t record_number) const;

 private:
  template <class F>
  struct Entry {
    std::int32_t id;
    std::unique_ptr<F> filter;
  };

  std::int32_t NextId();
  bool IdInUse(std::int32_t id) const;
  ErrorCode Add(std::unique_ptr<TFilter> filter, std::int32_t& handle);
  TFilter* FindActiveFilter(std::int32_t handle) const;
  ErrorCode SetActive(std::int32_t handle, bool active);

  FilterTable& owner_;
  std::vector<Entry<TFilter>> filters_;
  std::vector<Entry<TCallbackFilter>> callbacks_;
  std::int32_t last_id_ = 0;
};

}  // namespace storage
