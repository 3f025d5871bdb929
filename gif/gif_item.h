// Base of every part of a GIF file held by a TGIFImage, and the owned lists
// that keep them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/streams.h"

namespace gif {

class TGIFImage;

// The lowest GIF version that can store a part.
enum class TGIFVersion : int { gvUnknown = 0, gv87a = 1, gv89a = 2 };

// Warning event: sender, severity (always 1 in this codec), message.
using TGIFWarning = std::function<void(const void* sender, int severity, const std::string& message)>;

enum class TProgressStage { psStarting, psRunning, psEnding };
// Progress event: sender, stage, percent, message.
using TGIFProgress =
    std::function<void(const void* sender, TProgressStage stage, int percent, const std::string& message)>;

class TGIFItem {
 public:
  explicit TGIFItem(TGIFImage* image) : image_(image) {}
  virtual ~TGIFItem() = default;
  TGIFItem(const TGIFItem&) = delete;
  TGIFItem& operator=(const TGIFItem&) = delete;

  virtual TGIFVersion RequiredVersion() const { return TGIFVersion::gv87a; }
  // Passes the warning to the owning image's warning event.
  virtual void ReportWarning(const void* sender, int severity, const std::string& message);
  virtual void SaveToStream(fw::TStream& stream) = 0;
  virtual void LoadFromStream(fw::TStream& stream) = 0;
  void SaveToFile(const std::string& file_name);
  void LoadFromFile(const std::string& file_name);

  TGIFImage* Image() const { return image_; }

 protected:
  void Warning(const std::string& message) { ReportWarning(this, 1, message); }
  TGIFImage* image_;
};

// An owned list of parts; deleting an item frees it.
template <class T>
class TGIFList {
 public:
  TGIFList() = default;
  TGIFList(const TGIFList&) = delete;
  TGIFList& operator=(const TGIFList&) = delete;
  virtual ~TGIFList() = default;

  int Count() const { return static_cast<int>(items_.size()); }
  T* Items(int index) const { return items_.at(static_cast<std::size_t>(index)).get(); }
  T* operator[](int index) const { return Items(index); }
  T* First() const { return items_.empty() ? nullptr : items_.front().get(); }
  T* Last() const { return items_.empty() ? nullptr : items_.back().get(); }
  int IndexOf(const T* item) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (items_[i].get() == item) return static_cast<int>(i);
    return -1;
  }
  T* Add(std::unique_ptr<T> item) {
    items_.push_back(std::move(item));
    return items_.back().get();
  }
  T* Insert(int index, std::unique_ptr<T> item) {
    items_.insert(items_.begin() + index, std::move(item));
    return items_[static_cast<std::size_t>(index)].get();
  }
  // Takes the item out of the list without freeing it.
  std::unique_ptr<T> Extract(int index) {
    std::unique_ptr<T> item = std::move(items_.at(static_cast<std::size_t>(index)));
    items_.erase(items_.begin() + index);
    return item;
  }
  void Delete(int index) {
    // The item is freed after it has left the list, so its destructor sees a
    // consistent list.
    std::unique_ptr<T> item = Extract(index);
  }
  void Remove(const T* item) {
    int i = IndexOf(item);
    if (i >= 0) Delete(i);
  }
  // Deletes from the front.
  void Clear() {
    while (!items_.empty()) Delete(0);
  }
  void SaveToStream(fw::TStream& stream) {
    for (auto& item : items_) item->SaveToStream(stream);
  }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<std::unique_ptr<T>> items_;
};

}  // namespace gif
