#include "cgi/form_fields.h"

#include <sys/mman.h>
#include <sys/random.h>

#include <cassert>
#include <cstring>
#include <new>

#include "cgi/request_parser.h"

namespace cgi {

namespace {

constexpr std::size_t kFirstMapping = 64 * 1024;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::uint64_t HashSeed() {
  static const std::uint64_t seed = [] {
    std::uint64_t s = 0;
    if (::getrandom(&s, sizeof(s), GRND_NONBLOCK) != static_cast<ssize_t>(sizeof(s))) {
      s = reinterpret_cast<std::uintptr_t>(&s);  // some address-space randomness at least
    }
    return s;
  }();
  return seed;
}

// FNV-1a over the lower-cased name from a secret start, then a final mix so
// that the low bits used as a slot number depend on every input bit.
std::uint64_t NameHash(std::string_view name) {
  std::uint64_t h = 0xcbf29ce484222325ULL ^ HashSeed();
  for (char c : name) {
    h ^= static_cast<unsigned char>(LowerAscii(c));
    h *= 0x100000001b3ULL;
  }
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

}  // namespace

TFormFields::~TFormFields() { Clear(); }

void TFormFields::Clear() {
  if (area_ != nullptr) ::munmap(area_, capacity_);
  area_ = nullptr;
  size_ = 0;
  capacity_ = 0;
  std::vector<Entry>().swap(entries_);
  std::vector<std::uint32_t>().swap(index_);
  pending_ = kNone;
  pending_name_ = kNone;
}

void TFormFields::Reserve(std::size_t extra) {
  if (capacity_ - size_ >= extra) return;
  if (extra > SIZE_MAX / 4 - size_) throw std::bad_alloc();
  std::size_t wanted = capacity_ == 0 ? kFirstMapping : capacity_;
  while (wanted - size_ < extra) wanted *= 2;
  void* p;
  if (area_ == nullptr) {
    p = ::mmap(nullptr, wanted, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  } else {
    p = ::mremap(area_, capacity_, wanted, MREMAP_MAYMOVE);
  }
  if (p == MAP_FAILED) throw std::bad_alloc();
  area_ = static_cast<char*>(p);
  capacity_ = wanted;
}

void TFormFields::Add(std::string_view name, std::string_view value) {
  BeginField();
  Append(name);
  EndName();
  Append(value);
  CommitField();
}

void TFormFields::BeginField() {
  assert(pending_ == kNone);
  pending_ = size_;
  pending_name_ = kNone;
}

void TFormFields::Append(std::string_view bytes) {
  assert(pending_ != kNone);
  if (bytes.empty()) return;
  Reserve(bytes.size());
  std::memcpy(area_ + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
}

void TFormFields::EndName() {
  assert(pending_ != kNone && pending_name_ == kNone);
  pending_name_ = size_ - pending_;
}

std::string_view TFormFields::Pending() const {
  if (pending_ == kNone) return {};
  return {area_ + pending_, size_ - pending_};
}

void TFormFields::CommitField() {
  assert(pending_ != kNone && pending_name_ != kNone);
  assert(pending_name_ >= 1 && pending_name_ <= kMaxFieldNameLength);
  if (entries_.size() >= UINT32_MAX - 1) throw std::bad_alloc();  // index slots hold entry + 1
  entries_.push_back({pending_, size_ - pending_ - pending_name_, static_cast<std::uint32_t>(pending_name_)});
  pending_ = kNone;
  pending_name_ = kNone;
  index_.clear();
}

void TFormFields::DropField() {
  assert(pending_ != kNone);
  size_ = pending_;
  pending_ = kNone;
  pending_name_ = kNone;
}

std::string_view TFormFields::Name(std::size_t i) const {
  const Entry& e = entries_.at(i);
  return {area_ + e.offset, e.name_size};
}

std::string_view TFormFields::Value(std::size_t i) const {
  const Entry& e = entries_.at(i);
  return {area_ + e.offset + e.name_size, static_cast<std::size_t>(e.value_size)};
}

void TFormFields::BuildIndex() const {
  std::size_t slots = 16;
  while (slots < entries_.size() * 2) slots *= 2;
  index_.assign(slots, 0);
  const std::size_t mask = slots - 1;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const std::string_view name = Name(i);
    for (std::size_t s = NameHash(name) & mask;; s = (s + 1) & mask) {
      if (index_[s] == 0) {
        index_[s] = static_cast<std::uint32_t>(i + 1);
        break;
      }
      if (SameAscii(Name(index_[s] - 1), name)) break;  // the first of the name stays
    }
  }
}

std::optional<std::size_t> TFormFields::Find(std::string_view name) const {
  if (entries_.empty()) return std::nullopt;
  if (index_.empty()) BuildIndex();
  const std::size_t mask = index_.size() - 1;
  for (std::size_t s = NameHash(name) & mask; index_[s] != 0; s = (s + 1) & mask) {
    if (SameAscii(Name(index_[s] - 1), name)) return index_[s] - 1;
  }
  return std::nullopt;
}

}  // namespace cgi
