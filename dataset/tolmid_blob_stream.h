// TTolmidBlobStream: byte access to one BLOB, memo or graphic field of a
// dataset's current record, as the framework's BLOB fields load and save
// memos and pictures.
//
// Handles. Opening a field puts the engine's open-BLOB handle (negated)
// into a record buffer; the engine allows 64 open values per table. A
// stream that may change the value works on the dataset's record buffer:
// once it has written, the handle stays there (the field marked modified)
// until the dataset posts or cancels, which closes it. A stream that only
// reads a field nobody has changed opens it in a copy of the record that
// the stream owns and closes it when freed, so the handle can never be
// stranded in a framework buffer that is read again meanwhile. Two streams
// on a modified field share its one handle.
//
// Positions are 64-bit; the engine holds values of at most 2^31 - 1
// bytes: Seek never goes below 0 (it returns -1 and stays), Read and Write
// at a position the engine cannot hold move nothing, and a Write whose end
// would pass the limit raises the engine's invalid-offset error (9998).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "framework/db/db_common.h"
#include "framework/streams.h"

namespace fw {
class TField;
}

namespace dataset {

class TTolmidDataSet;

class TTolmidBlobStream : public fw::TStream {
 public:
  // "Cannot access field %s." in the filter state; for a mode other than
  // read on a field not yet modified: "Field '%s' cannot be modified" for a
  // read-only field, "Dataset not in edit or insert mode" outside the edit
  // states. Without a record the stream stays unopened (reads give 0).
  TTolmidBlobStream(fw::TField* field, fw::TBlobStreamMode mode);
  // Marks the field modified when this stream changed it; otherwise
  // closes a handle it opened. Never raises.
  ~TTolmidBlobStream() override;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, fw::TSeekOrigin origin) override;
  // Truncates (or extends with zeros) to new_size; the position is kept
  // but no further than the new size.
  void SetSize(std::int64_t new_size) override;
  std::int64_t Size() override;
  // Cuts the value at the position.
  void Truncate();

  [[nodiscard]] bool Opened() const { return opened_; }
  [[nodiscard]] bool Modified() const { return modified_; }

 private:
  [[nodiscard]] std::span<std::byte> Record();

  fw::TField* field_;
  TTolmidDataSet* dataset_;
  char* record_ = nullptr;          // the dataset's buffer, or own_record_
  std::vector<char> own_record_;    // a read-only stream's copy
  int field_no_ = 0;
  bool opened_ = false;
  bool modified_ = false;
  bool owns_handle_ = false;        // this stream opened the field
  std::int64_t position_ = 0;
};

}  // namespace dataset
