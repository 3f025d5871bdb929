// SQLite as the peer of differential tests: an in-memory database, rows
// of a query as text (fields joined by '|', NULL for a null, floats with 4
// decimals), so they compare with the rows our engine gives, or each row's
// statement handed to a callback; and the random choices of the
// differentials' generators.
//
//   testsupport::SqlitePeer peer;
//   peer.Exec("CREATE TABLE t (a INTEGER)");
//   EXPECT_EQ(ours, peer.Query("SELECT a FROM t"));
//   peer.ForEachRow("SELECT a FROM t", [](sqlite3_stmt* row) { ... });
//   testsupport::Dice dice(seed);   // dice.Pick(1, 6), dice.Coin()
#pragma once

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

class SqlitePeer {
 public:
  // create: a statement run at once (a CREATE TABLE), if any.
  explicit SqlitePeer(const std::string& create = {}) {
    sqlite3_open(":memory:", &db_);
    if (!create.empty()) Exec(create);
  }
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
  // Calls row(statement) for every result row; returns the row count, or
  // -1 (and fails the test) when the query does not prepare.
  template <class F>
  int ForEachRow(const std::string& sql, F&& row) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(db_) << " in " << sql;
      return -1;
    }
    int rows = 0;
    for (; sqlite3_step(st) == SQLITE_ROW; ++rows) row(st);
    sqlite3_finalize(st);
    return rows;
  }
  sqlite3* Handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// A double as an SQL literal SQLite reads back as the same REAL: 17
// digits, always with a point or exponent ("27" would be an integer), the
// infinities as out-of-range literals.
inline std::string SqlReal(double v) {
  if (std::isinf(v)) return v > 0 ? "1e999" : "-1e999";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  std::string text = buf;
  return text.find_first_of(".en") == std::string::npos ? text + ".0" : text;
}

// Seeded random choices.
class Dice {
 public:
  explicit Dice(std::uint32_t seed) : rng_(seed) {}
  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  int Below(int n) { return Pick(0, n - 1); }
  bool Coin() { return Pick(0, 1) == 1; }
  template <class C>
  const auto& Of(const C& choices) {
    return choices[static_cast<std::size_t>(Below(static_cast<int>(std::size(choices))))];
  }
  std::string Text(int min_len, int max_len, std::string_view alphabet) {
    std::string s;
    for (int i = Pick(min_len, max_len); i > 0; --i) s += Of(alphabet);
    return s;
  }

 private:
  std::mt19937 rng_;
};

}  // namespace testsupport
