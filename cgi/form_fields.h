// The form fields of one request, stored compactly and looked up by name
// through an index.
//
// Storage: the name and value bytes of every field lie back to back, in
// arrival order, in one byte area; a table of 24-byte entries points into it:
//
//   byte area   name bytes | value bytes | name bytes | value bytes | ...
//   entry       offset: u64 (first name byte), value_size: u64,
//               name_size: u32 (1..kMaxFieldNameLength)
//
// So a field costs its decoded bytes plus 24, never a heap object of its
// own. The byte area is an anonymous mapping grown with mremap: growing it
// moves page tables instead of copying bytes, and reserved pages that were
// never written cost no memory, so a 200 MB value peaks at about 200 MB of
// resident memory (a growing string would copy, and peak at 1.5 to 3 times
// that).
//
// Look-up: names match without regard to ASCII case and the first field of
// a name wins. The index is an open-addressing table of entry numbers (power
// of two slots, at least twice the field count) over a hash seeded once per
// process, so that a client cannot choose names that all collide. It is built
// on the first look-up after a change: reading n fields by name costs O(n).
//
// Fields are added whole (Add) or in pieces (BeginField, Append, EndName,
// Append, CommitField or DropField), which lets a parser decode straight
// into the area without a copy of the field.
//
// Not thread-safe: a field list belongs to one request, on one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace cgi {

class TFormFields {
 public:
  TFormFields() = default;
  ~TFormFields();
  TFormFields(const TFormFields&) = delete;
  TFormFields& operator=(const TFormFields&) = delete;

  // REQUIRES: no field is being built.
  void Add(std::string_view name, std::string_view value);

  // Building a field: its name bytes, EndName, then its value bytes.
  void BeginField();
  void Append(std::string_view bytes);
  void EndName();
  // The bytes of the field being built so far (its name while the name is
  // not ended).
  std::string_view Pending() const;
  // Ends the field being built: keeps it, or takes its bytes back.
  void CommitField();
  void DropField();

  std::size_t Count() const { return entries_.size(); }
  std::string_view Name(std::size_t i) const;
  std::string_view Value(std::size_t i) const;
  // The first field named name (ASCII case ignored).
  std::optional<std::size_t> Find(std::string_view name) const;

  // Frees everything.
  void Clear();

 private:
  struct Entry {
    std::uint64_t offset;
    std::uint64_t value_size;
    std::uint32_t name_size;
  };
  static_assert(sizeof(Entry) == 24);

  void Reserve(std::size_t extra);
  void BuildIndex() const;

  char* area_ = nullptr;
  std::size_t size_ = 0;      // bytes in use
  std::size_t capacity_ = 0;  // bytes mapped
  std::vector<Entry> entries_;
  // Field being built: its first byte and, once EndName ran, its name size.
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t pending_ = kNone;
  std::size_t pending_name_ = kNone;
  // Slots hold entry number + 1; 0 is an empty slot. Empty = not built.
  mutable std::vector<std::uint32_t> index_;
};

}  // namespace cgi
