// Helpers of the record and cursor tests: typed record buffers over a
// TDataFile and the engine code of an operation.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "storage/data_file.h"
#include "tests/storage/data_file_test_support.h"

namespace storage::rectest {

using datatest::CodeOf;

// A record buffer of a table.
struct Rec {
  explicit Rec(TDataFile& t) : t_(&t), bytes(t.GetRecordBufferSize()) { t.ApplyDefaultValues(bytes); }
  std::span<std::byte> span() { return bytes; }

  Rec& Str(int n, const std::optional<std::string>& s) {
    if (s) {
      t_->SetFieldValue(false, n, false, s->c_str(), bytes);
    } else {
      t_->SetFieldValue(false, n, false, nullptr, bytes);
    }
    return *this;
  }
  template <class T>
  Rec& Num(int n, const std::optional<T>& v) {
    if (v) {
      T x = *v;
      t_->SetFieldValue(false, n, false, &x, bytes);
    } else {
      t_->SetFieldValue(false, n, false, nullptr, bytes);
    }
    return *this;
  }
  std::optional<std::string> GetStr(int n) const {
    char buf[256] = {};
    bool blank = false;
    t_->GetFieldValue(false, n, blank, buf, bytes);
    if (blank) return std::nullopt;
    return std::string(buf);
  }
  template <class T>
  std::optional<T> GetNum(int n) const {
    std::uint8_t buf[256] = {};
    bool blank = false;
    t_->GetFieldValue(false, n, blank, buf, bytes);
    if (blank) return std::nullopt;
    T v;
    std::memcpy(&v, buf, sizeof(T));
    return v;
  }
  std::uint32_t Id() const { return TDataFile::GetRecordID(bytes); }

  TDataFile* t_;
  std::vector<std::byte> bytes;
};

// Replaces the whole value of BLOB field n in r (opened first, left open).
inline void PutBlob(TDataFile& t, Rec& r, int n, const std::vector<std::uint8_t>& v) {
  CheckEngineResult(t.OpenBlobField(false, n, r.span()));
  CheckEngineResult(t.TruncateBlobField(false, n, 0, r.span()));
  if (!v.empty()) CheckEngineResult(t.WriteBlobField(false, n, v.data(), 0, static_cast<std::int32_t>(v.size()), r.span()));
}

// The whole value of BLOB field n in r (opened and closed again).
inline std::vector<std::uint8_t> GetBlob(TDataFile& t, Rec& r, int n) {
  std::int32_t size = 0, got = 0;
  CheckEngineResult(t.OpenBlobField(false, n, r.span()));
  CheckEngineResult(t.GetBlobFieldSize(false, n, size, r.span()));
  std::vector<std::uint8_t> v(static_cast<std::size_t>(std::max(size, 0)));
  if (size > 0) CheckEngineResult(t.ReadBlobField(false, n, got, 0, v.data(), size, r.span()));
  CheckEngineResult(t.CloseBlobField(false, n, r.span()));
  return v;
}

// The record ID of the cursor's current record; 0 when none.
inline std::uint32_t CurrentId(const TDataFile& t) {
  const std::byte* p = t.CurrentRecordData();
  if (p == nullptr) return 0;
  std::uint32_t id;
  std::memcpy(&id, p + 5, 4);
  return id;
}

}  // namespace storage::rectest
