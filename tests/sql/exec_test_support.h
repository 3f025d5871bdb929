// Helpers of the execution tests: tables filled through TDataFile inserts,
// queries run to a list of printed rows.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "sql/data_query.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/session.h"

namespace sql::xtest {

using storage::FieldType;
using storage::TFieldDescriptor;

// One value to insert: nullopt is NULL (an empty string is NULL too).
using Value = std::optional<std::variant<std::int32_t, double, std::string>>;

inline TFieldDescriptor Field(std::uint16_t number, const std::string& name, FieldType type,
                              std::uint8_t size = 0) {
  TFieldDescriptor f;
  f.FieldNumber = number;
  f.Name.Assign(name);
  f.FieldType = storage::TypeCode(type);
  f.Size = size;
  return f;
}

// Prints a field of a record: "NULL", an integer (booleans 0 and 1), a
// float with 4 decimals, the text, or a BLOB's whole contents.
inline std::string PrintField(storage::TDataFile& file, int n, std::span<const std::byte> record) {
  const TFieldDescriptor& d = file.GetFieldDescriptor(true, n);
  bool blank = true;
  std::array<std::uint8_t, 300> v{};
  file.GetFieldValue(true, n, blank, v.data(), record);
  if (blank) return "NULL";
  char buf[64];
  switch (d.Type()) {
    case FieldType::kBoolean: return storage::LoadLittle<std::uint16_t>(v.data()) != 0 ? "1" : "0";
    case FieldType::kBlob: {
      std::vector<std::byte> copy(record.begin(), record.end());
      if (file.OpenBlobField(true, n, copy) != 0) return "?";
      std::int32_t size = 0;
      if (file.GetBlobFieldSize(true, n, size, copy) != 0) return "?";
      std::string text(static_cast<std::size_t>(size), '\0');
      std::int32_t read = 0;
      if (size > 0 && file.ReadBlobField(true, n, read, 0, text.data(), size, copy) != 0) return "?";
      (void)file.CloseBlobField(true, n, copy);
      return text.empty() ? "NULL" : text;
    }
    case FieldType::kInteger:
    case FieldType::kDate:
      return std::to_string(storage::LoadLittle<std::int32_t>(v.data()));
    case FieldType::kSmallInt: return std::to_string(storage::LoadLittle<std::int16_t>(v.data()));
    case FieldType::kFloat:
      std::snprintf(buf, sizeof buf, "%.4f", storage::LoadLittle<double>(v.data()));
      return buf;
    case FieldType::kString: return std::string(reinterpret_cast<const char*>(v.data()));
    default: return "?";
  }
}

class ExecTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    storage::InitializeEngine();
    char tmpl[] = "/tmp/sql_exec_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    storage::SetPrivateDirectory(dir_);
  }
  void TearDown() override {
    storage::ShutdownEngine();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void Create(const std::string& name, std::vector<TFieldDescriptor> fields,
              std::vector<storage::TIndexDescriptor> secondary = {}) {
    storage::DataTableDefinition def;
    def.creator1 = 1;
    def.fields = std::move(fields);
    def.secondary = std::move(secondary);
    def.allow_empty_primary = true;
    storage::TDataFile file;
    file.SetFileName(dir_ + "/" + name);
    file.SetExclusive(true);
    file.CreateDataTable(def);
  }

  void Insert(const std::string& name, const std::vector<std::vector<Value>>& rows) {
    storage::TDataFile file;
    file.SetFileName(dir_ + "/" + name);
    file.Open();
    std::vector<std::byte> buf(file.GetRecordBufferSize());
    for (const auto& row : rows) {
      file.ApplyDefaultValues(buf);
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (!row[i]) continue;
        const int n = static_cast<int>(i + 1);
        std::array<std::uint8_t, 300> v{};
        if (auto* p = std::get_if<std::int32_t>(&*row[i])) {
          storage::StoreLittle<std::int32_t>(v.data(), *p);
        } else if (auto* d = std::get_if<double>(&*row[i])) {
          storage::StoreLittle<double>(v.data(), *d);
        } else {
          const std::string& s = std::get<std::string>(*row[i]);
          if (s.empty()) continue;
          if (file.GetFieldDescriptor(false, n).Type() == FieldType::kBlob) {
            ASSERT_EQ(file.OpenBlobField(false, n, buf), 0);
            ASSERT_EQ(file.WriteBlobField(false, n, s.data(), 0, static_cast<std::int32_t>(s.size()),
                                          buf),
                      0);
            continue;
          }
          std::copy(s.begin(), s.end(), v.begin());
        }
        file.SetFieldValue(false, n, false, v.data(), buf);
      }
      file.InsertRecord(buf);
      file.FreeBlobBuffers();
    }
    file.Close();
  }

  // Rows of the cursor in cursor order, fields joined by '|'.
  static std::vector<std::string> Rows(storage::TDataFile& cursor) {
    std::vector<std::string> rows;
    std::vector<std::byte> buf(cursor.GetRecordBufferSize());
    EXPECT_EQ(cursor.MoveToBegin(), 0);
    while (cursor.ReadNextRecord(buf) == 0) {
      std::string line;
      for (int n = 1; n <= cursor.WorkingFieldCount(); ++n) {
        if (n > 1) line += "|";
        line += PrintField(cursor, n, buf);
      }
      rows.push_back(line);
    }
    return rows;
  }

  // Prepares and runs sql; the rows, or "error <code>: <message>" as the
  // only row.
  std::vector<std::string> Run(const std::string& sql, bool live = false,
                               TDataQuery::ProgressCallback progress = nullptr) {
    TDataQuery q;
    q.SetDirectory(dir_);
    q.SetLiveRequested(live);
    if (progress) q.SetProgressCallback(std::move(progress));
    try {
      if (q.PrepareQuery(sql) != 0) return {"error prepare"};
      storage::TDataFile* cursor = nullptr;
      const std::uint16_t code = q.ExecuteQuery(cursor);
      if (code != 0 || cursor == nullptr) return {"error " + std::to_string(code)};
      last_live_ = q.Flags().live;
      return Rows(*cursor);
    } catch (const storage::ETolmidEngineError& e) {
      return {"error " + std::to_string(e.ErrorCode()) + ": " +
              storage::CurrentSession()->Context().extra_text};
    }
  }

  std::string dir_;
  bool last_live_ = false;
};

}  // namespace sql::xtest
