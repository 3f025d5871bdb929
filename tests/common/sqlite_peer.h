// SQLite as the peer of differential tests: an in-memory database, rows
// of a query as text (fields joined by '|', NULL for a null, floats with 4
// decimals), so they compare with the rows our engine gives.
//
//   testsupport::SqlitePeer peer;
//   peer.Exec("CREATE TABLE t (a INTEGER)");
//   EXPECT_EQ(ours, peer.Query("SELECT a FROM t"));
#pragma once

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

class SqlitePeer {
 public:
  SqlitePeer() { sqlite3_open(":memory:", &db_); }
  ~SqlitePeer() { sqlite3_close(db_); }
  SqlitePeer(const SqlitePeer&) = delete;
  SqlitePeer& operator=(const SqlitePeer&) = delete;

  void Exec(const std::string& sql) {
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "") << " in " << sql;
    sqlite3_free(err);
  }
  std::vector<std::string> Query(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      return {std::string("sqlite error: ") + sqlite3_errmsg(db_)};
    std::vector<std::string> rows;
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::string line;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        if (i > 0) line += "|";
        char buf[64];
        switch (sqlite3_column_type(st, i)) {
          case SQLITE_NULL: line += "NULL"; break;
          case SQLITE_INTEGER: line += std::to_string(sqlite3_column_int64(st, i)); break;
          case SQLITE_FLOAT:
            std::snprintf(buf, sizeof buf, "%.4f", sqlite3_column_double(st, i));
            line += buf;
            break;
          default: line += reinterpret_cast<const char*>(sqlite3_column_text(st, i)); break;
        }
      }
      rows.push_back(line);
    }
    sqlite3_finalize(st);
    return rows;
  }
  sqlite3* Handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace testsupport
