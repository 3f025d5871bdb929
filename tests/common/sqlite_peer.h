// SQLite as the peer of a differential test, and the random choices of the
// differentials' generators.
//
//   testsupport::SqlitePeer db("CREATE TABLE t(a INTEGER)");
//   db.Exec("INSERT INTO t VALUES(1)");
//   db.Query("SELECT a FROM t", [](sqlite3_stmt* row) { ... });
//   testsupport::Dice dice(seed);   // dice.Pick(1, 6), dice.Coin()
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

namespace testsupport {

// An in-memory database; a statement that fails fails the test.
class SqlitePeer {
 public:
  explicit SqlitePeer(const std::string& create = {}) {
    EXPECT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    if (!create.empty()) Exec(create);
  }
  ~SqlitePeer() { sqlite3_close(db_); }
  SqlitePeer(const SqlitePeer&) = delete;
  SqlitePeer& operator=(const SqlitePeer&) = delete;

  void Exec(const std::string& sql) {
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "") << "\n" << sql;
    sqlite3_free(err);
  }
  // Calls row(statement) for every result row; returns the row count, or
  // -1 (and fails the test) when the query does not prepare.
  template <class F>
  int Query(const std::string& sql, F&& row) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(db_) << "\n" << sql;
      return -1;
    }
    int rows = 0;
    for (; sqlite3_step(st) == SQLITE_ROW; ++rows) row(st);
    sqlite3_finalize(st);
    return rows;
  }

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
  bool OneIn(int n) { return Below(n) == 0; }
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
